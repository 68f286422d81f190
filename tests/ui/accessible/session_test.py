#!/usr/bin/python3
"""The window driven the way a person drives it, through the accessibility bus.

Starts Xvfb and a private D-Bus session (with the accessibility bus it activates), runs
the real program from a copy of the build's program folder with a temporary home, and
works it with mouse clicks at the places the accessibility bus reports, typed text and
button presses:
  1. a change on Step2, then SIGTERM: the settings file holds the change and both window
     places;
  2. "~/Clipwright test" typed as the output folder: the outputs land under the home folder;
  3. a settings file that cannot be read: the mode page still comes, the file is kept aside;
  4. the branding file's Skin=1: Next, Back, Exit and the close button are on screen, inside
     the window, and work.
Every wait is bounded; Xvfb, the session bus and the program are ended on every way out.
Usage: session_test.py BIN_DIR
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import warnings
import wave

# The interface getters of the client library are marked old but are what Debian 12 has.
warnings.simplefilter("ignore", DeprecationWarning)

STEP_TIMEOUT = 30  # seconds for any one thing to appear


LAST_APP = []


def dump(acc, depth=0, out=None):
    """The showing objects below acc as an indented list of role and name."""
    out = [] if out is None else out
    for i in range(acc.get_child_count()):
        child = acc.get_child_at_index(i)
        if child is not None and showing(child):
            out.append("  " * depth + f"{child.get_role_name()}: {child.get_name()!r}")
            dump(child, depth + 1, out)
    return out


def fail(text):
    print("FAILED: " + text, flush=True)
    if LAST_APP:
        try:
            print("\n".join(dump(LAST_APP[-1])), flush=True)
        except Exception:
            pass
    sys.exit(1)


def need(condition, text):
    if not condition:
        fail(text)


# --- outer stage: display and session bus ---------------------------------------------------

def outer(bin_dir):
    for tool in ("Xvfb", "dbus-run-session"):
        need(shutil.which(tool), f"{tool} is missing (scripts/packages.txt installs it)")
    need(os.path.exists("/usr/libexec/at-spi-bus-launcher"),
         "at-spi2-core is missing (scripts/packages.txt installs it)")
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(write_fd,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    os.close(write_fd)
    try:
        display = b""
        deadline = time.monotonic() + STEP_TIMEOUT
        os.set_blocking(read_fd, False)
        while not display.endswith(b"\n"):
            need(time.monotonic() < deadline and xvfb.poll() is None, "Xvfb did not start")
            try:
                display += os.read(read_fd, 16)
            except BlockingIOError:
                time.sleep(0.05)
        env = dict(os.environ, DISPLAY=":" + display.decode().strip())
        inner = subprocess.Popen(["dbus-run-session", "--", sys.executable, __file__, "--inner",
                                  bin_dir], env=env, start_new_session=True)
        try:
            return inner.wait(timeout=600)
        except subprocess.TimeoutExpired:
            os.killpg(inner.pid, signal.SIGKILL)
            fail("the session did not end within 600 s")
    finally:
        os.close(read_fd)
        try:
            os.killpg(xvfb.pid, signal.SIGTERM)
            xvfb.wait(timeout=10)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            os.killpg(xvfb.pid, signal.SIGKILL)


# --- inner stage: the program and the accessibility bus --------------------------------------

def inner(bin_dir):
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi
    except (ImportError, ValueError) as e:
        fail(f"the accessibility client is missing ({e}): python3-gi, gir1.2-atspi-2.0")
    global A
    A = Atspi
    Atspi.init()
    work = tempfile.mkdtemp(prefix="cw-a11y-")
    global RUNTIME_DIR
    RUNTIME_DIR = os.path.join(work, "runtime")
    os.makedirs(RUNTIME_DIR, mode=0o700)
    try:
        scenarios(bin_dir, work)
    finally:
        for p in list(RUNNING):
            stop(p)
        shutil.rmtree(work, ignore_errors=True)
    print("accessible session: 4 passed, 0 failed", flush=True)
    return 0


RUNNING = []


def program_folder(bin_dir, folder, branding=None):
    os.makedirs(folder)
    shutil.copy2(os.path.join(bin_dir, "clipwright"), folder)
    for item in ("sounds", "docs", "icon.ico", "lib"):
        if os.path.exists(os.path.join(bin_dir, item)):
            os.symlink(os.path.join(bin_dir, item), os.path.join(folder, item))
    if branding is None:
        os.symlink(os.path.join(bin_dir, "lamecore.dll"), os.path.join(folder, "lamecore.dll"))
    else:
        # Every byte of a line complemented, the line breaks kept.
        lines = branding.encode().split(b"\n")
        with open(os.path.join(folder, "lamecore.dll"), "wb") as f:
            f.write(b"\n".join(bytes(255 - c for c in line) for line in lines))
    return folder


def start(folder, home):
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
               XDG_RUNTIME_DIR=RUNTIME_DIR)
    env.pop("QT_QPA_PLATFORMTHEME", None)
    p = subprocess.Popen([os.path.join(folder, "clipwright")], env=env, cwd=home)
    RUNNING.append(p)
    return p


def stop(p):
    if p.poll() is None:
        p.kill()
        p.wait(timeout=10)
    if p in RUNNING:
        RUNNING.remove(p)


def wait_exit(p, text):
    try:
        code = p.wait(timeout=STEP_TIMEOUT)
    except subprocess.TimeoutExpired:
        fail(f"the program did not end: {text}")
    RUNNING.remove(p)
    return code


def wait_for(what, find, timeout=STEP_TIMEOUT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            found = find()
        except Exception:  # the tree changes while it is walked
            found = None
        if found:
            return found
        time.sleep(0.1)
    fail(f"did not appear within {timeout} s: {what}")


def application(p):
    desktop = A.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == p.pid:
            LAST_APP.append(app)
            return app
    return None


def showing(acc):
    states = acc.get_state_set()
    return states.contains(A.StateType.SHOWING) and states.contains(A.StateType.VISIBLE)


def find(root, name=None, roles=None, text=None):
    """The first showing object below root with that name (and role), breadth first."""
    queue = [root]
    while queue:
        acc = queue.pop(0)
        for i in range(acc.get_child_count()):
            child = acc.get_child_at_index(i)
            if child is None or not showing(child):
                continue
            if (name is None or child.get_name() == name) and \
               (roles is None or child.get_role_name() in roles) and \
               (text is None or text in label_text(child)):
                return child
            queue.append(child)
    return None


def label_text(acc):
    try:
        if acc.is_text():
            return A.Text.get_text(acc, 0, A.Text.get_character_count(acc))
    except Exception:
        pass
    return acc.get_name() or ""


# Checkable buttons (class and format choices) are check boxes on the bus.
BUTTON = ("push button", "toggle button", "button", "check box")


def button(app, name):
    return wait_for(f'button "{name}"', lambda: find(app, name, BUTTON))


def extents(acc):
    r = acc.get_extents(A.CoordType.SCREEN)
    return r.x, r.y, r.width, r.height


def click(acc):
    """A left click at the middle of the control, where the accessibility bus says it is."""
    x, y, w, h = extents(acc)
    need(w > 0 and h > 0, f'"{acc.get_name()}" has no size on screen')
    A.generate_mouse_event(x + w // 2, y + h // 2, "b1c")


def press(acc):
    action = acc.get_action_iface()
    need(action is not None and action.get_n_actions() > 0, f'"{acc.get_name()}" cannot be pressed')
    action.do_action(0)


def type_into(acc, text):
    editable = acc.get_editable_text_iface()
    need(editable is not None, f'"{acc.get_name()}" takes no text')
    editable.set_text_contents(text)


def title_is(app, text):
    return wait_for(f'the title "{text}"', lambda: find(app, roles=("label",), text=text))


def answer(app, question, reply):
    """Answers a question box: it must show the question; the reply button is clicked."""
    wait_for(f'the question "{question}"', lambda: find(app, roles=("label",), text=question))
    box_button = wait_for(f'"{reply}" in the question box',
                          lambda: find(app, reply, BUTTON))
    click(box_button)


def write_tone(path):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(b"\x00\x10" * 8000)


def read_ini(path):
    sections, current = {}, None
    with open(path, "rb") as f:
        for raw in f.read().decode("utf-8", "replace").splitlines():
            line = raw.strip()
            if line.startswith("[") and "]" in line:
                current = sections.setdefault(line[1:line.index("]")].lower(), {})
            elif "=" in line and current is not None:
                k, v = line.split("=", 1)
                current[k.strip().lower()] = v
    return sections


def add_file_on_step1(app, path):
    click(button(app, "Add File(s)"))
    name_box = wait_for("the file name box of the add dialog",
                        lambda: find(app, "File name:", ("text", "entry")))
    type_into(name_box, path)
    press(button(app, "Open"))
    grid = wait_for("the file list", lambda: find(app, "Files to convert"))
    wait_for("a row in the file list", lambda: grid.get_table_iface().get_n_rows() >= 1)


def to_step2_with_file(app, tone):
    click(wait_for("the convert choice", lambda: find(
        app, "Convert audio/video (previously downloaded) from file", ("radio button",))))
    click(button(app, "Next"))
    title_is(app, "Select the file(s) you want to convert.")
    add_file_on_step1(app, tone)
    next_button = button(app, "Next")
    wait_for("Next enabled after probing",
             lambda: next_button.get_state_set().contains(A.StateType.ENABLED))
    click(next_button)
    title_is(app, "Select an output mode and specify a path for the output files.")


def scenarios(bin_dir, work):
    home = os.path.join(work, "home")
    os.makedirs(os.path.join(home, ".config"))
    os.makedirs(os.path.join(home, "Documents"))
    tone = os.path.join(work, "tone.wav")
    write_tone(tone)
    settings = os.path.join(home, ".config", "Clipwright", "~system2.dat")
    default = program_folder(bin_dir, os.path.join(work, "default"))

    # 1. A change on Step2, then SIGTERM.
    p = start(default, home)
    app = wait_for("the program on the accessibility bus", lambda: application(p))
    to_step2_with_file(app, tone)
    click(button(app, "Audio"))
    click(button(app, "MP3"))
    # A chosen class and format show as checked buttons: the clicks have been taken when both
    # say so.
    for name in ("Audio", "MP3"):
        chosen = button(app, name)
        wait_for(f"{name} shown as chosen",
                 lambda: chosen.get_state_set().contains(A.StateType.CHECKED))
    p.send_signal(signal.SIGTERM)
    need(wait_exit(p, "after SIGTERM") == 0, "SIGTERM did not end the program normally")
    saved = read_ini(settings)
    need(saved.get("system", {}).get("outputformatclass") == "2",
         f"the class chosen on Step2 was not saved: {saved.get('system')}")
    need(saved["system"].get("outputaudioformat") == "1", "the MP3 choice was not saved")
    for section in ("form", "formlog"):
        need("x" in saved.get(section, {}) and "y" in saved[section],
             f"the placement section {section} is missing")
    print("ok: SIGTERM after a change on Step2 saved it with both placements", flush=True)

    # 2. "~/Clipwright test" as the output folder.
    p = start(default, home)
    app = wait_for("the program on the accessibility bus", lambda: application(p))
    to_step2_with_file(app, tone)
    folder_box = wait_for("the output folder box",
                          lambda: find(app, "Output directory:", ("text", "entry")))
    type_into(folder_box, "~/Clipwright test")
    click(button(app, "Convert"))
    title_is(app, "The conversion is finished.")
    output = os.path.join(home, "Clipwright test", "tone.mp3")
    need(os.path.isfile(output) and os.path.getsize(output) > 0,
         f"no output under the home folder: {os.listdir(home)}")
    need(not os.path.exists(os.path.join(home, "~")), 'a folder named "~" was made')
    click(button(app, "Exit"))
    answer(app, "Are you sure to quit now?", "Yes")
    need(wait_exit(p, "after Exit and Yes") == 0, "Exit did not end the program normally")
    print("ok: ~/Clipwright test put the output under the home folder", flush=True)

    # 3. A settings file that cannot be read.
    with open(settings, "wb") as f:
        f.write(b"\x00\x01\x02\xff\xfe[Sys")
    p = start(default, home)
    app = wait_for("the program on the accessibility bus", lambda: application(p))
    wait_for("the mode page", lambda: find(app, "Download video from YouTube", ("radio button",)))
    need(os.path.exists(settings + ".bad"), "the damaged settings file was not kept aside")
    click(button(app, "Close"))
    need(wait_exit(p, "after the close button") == 0, "the close button did not end it")
    print("ok: a damaged settings file still gave the mode page", flush=True)

    # 4. Skin 1.
    with open(os.path.join(bin_dir, "lamecore.dll"), "rb") as f:
        plain = b"\n".join(bytes(255 - c for c in line) for line in f.read().split(b"\n"))
    text = plain.decode("utf-8", "replace").replace("\r", "")
    lines = [l for l in text.split("\n") if not l.lower().startswith("skin=")]
    lines.insert(1, "Skin=1")
    skinned = program_folder(bin_dir, os.path.join(work, "skin1"), "\n".join(lines))
    p = start(skinned, home)
    app = wait_for("the program on the accessibility bus", lambda: application(p))
    frame = wait_for("the main window", lambda: find(app, "Clipwright", ("frame", "window", "filler")))
    wait_for("the mode page", lambda: find(app, "Download video from YouTube", ("radio button",)))
    fx, fy, fw, fh = extents(frame)
    for name in ("Next", "Back", "Exit", "Close"):
        x, y, w, h = extents(button(app, name))
        need(w > 0 and h > 0 and x >= fx and y >= fy and x + w <= fx + fw and y + h <= fy + fh
             and x + w <= 1280 and y + h <= 1024,
             f'"{name}" at {x},{y} {w}x{h} lies outside the window {fx},{fy} {fw}x{fh}')
    click(wait_for("the download choice",
                   lambda: find(app, "Download video from YouTube", ("radio button",))))
    click(button(app, "Next"))
    title_is(app, "Copy a YouTube link from your browser address bar and Paste here")
    click(button(app, "Back"))
    answer(app, "Are you sure to cancel and go back?", "Yes")
    title_is(app, "What do you want to do?")
    click(button(app, "Exit"))
    answer(app, "Are you sure to quit now?", "No")
    # The program goes on after the No: once the box has closed, Exit asks again.
    wait_for("the quit question closed",
             lambda: not find(app, roles=("label",), text="Are you sure to quit now?"))
    need(p.poll() is None, "No on the quit question ended the program")
    click(button(app, "Exit"))
    answer(app, "Are you sure to quit now?", "No")
    wait_for("the quit question closed again",
             lambda: not find(app, roles=("label",), text="Are you sure to quit now?"))
    click(button(app, "Close"))
    need(wait_exit(p, "after the close button") == 0, "the close button did not end it")
    print("ok: with Skin=1 Next, Back, Exit and Close are on screen and work", flush=True)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--inner":
        sys.exit(inner(sys.argv[2]))
    if len(sys.argv) != 2:
        fail("usage: session_test.py BIN_DIR")
    sys.exit(outer(sys.argv[1]))
