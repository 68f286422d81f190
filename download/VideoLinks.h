// Video link intake: which texts count as links of the video service, how a pasted text is
// cut into links, whether a link may join the list, and what is read from a watch page (the
// title and the address of the video-info request).
#pragma once

#include <string>
#include <vector>

namespace cw {

// The service's host name when the branding file names none.
inline constexpr const char* DefaultVideoSiteDomain = "www.youtube.com";

// True when the text (blanks around it aside) is an http or https link to the service's host
// (the domain, with or without "www.", or its "m." or "music." form) that names a video:
// "/watch?v=ID", "/embed/ID", "/v/ID", "/shorts/ID" or "/live/ID", the id made of letters,
// digits, "_" and "-", other parameters allowed ("&t=", "&list=": the video is meant). For
// the service's own domain, "youtu.be/ID" too.
bool IsVideoLink(const std::string& text, const std::string& domain);
// True when the text (blanks around it aside) is an http or https link with a host.
bool IsAnyWebLink(const std::string& text);

// Cuts a pasted text into lines: carriage returns and line feeds end a line, line breaks
// before a line are skipped, empty lines give nothing, and a run between single or double
// quotes belongs to its line whole, line breaks included (the quotes stay in the text).
std::vector<std::string> SplitPastedText(const std::string& text);

enum class TLinkVerdict {
    lvAdd,       // a new link of the service
    lvNotALink,  // not a link of the service
    lvDuplicate, // exactly this text is listed already (letter case counts)
};
// anySite: links of any site are taken (the external resolver reads them).
TLinkVerdict CheckNewLink(const std::vector<std::string>& listed, const std::string& text,
                          const std::string& domain, bool anySite = false);
// The explanation shown for a refused link: the text, LF CR LF CR, then the reason.
std::string RefusedLinkMessage(TLinkVerdict verdict, const std::string& text);

// The title from the page's title tag, HTML entities not decoded; empty when there is none.
// The page is taken one character per byte.
std::string ExtractVideoTitle(const std::string& page);
// "http://" + domain + "/get_video_info?video_id=" + the id of the first watch link of the
// page (the id is empty when the page has none). The domain is used as a pattern, so its
// dots match any character.
std::string MakeVideoInfoURL(const std::string& page, const std::string& domain);

// A title as the window shows it and files are named after it: valid UTF-8 stays as it is,
// any other byte is taken as a Latin-1 character.
std::string TitleAsUtf8(const std::string& title);

} // namespace cw
