// The steps of one HTTP transfer as a state machine: which step a request is at, what a
// header line from libcurl means at that step, and the status numbers the steps are reported
// with ("Resolving name" 10, "Connecting to server" 20, "Sending Request" 30, "Receiving
// response" 40, "Response received" 41, "CTL Response received" 42, "Intermediate response" 120).
#pragma once

#include <string>

namespace cw {

enum class TTransferState {
    Starting,         // a request is about to go out; nothing asked yet
    Resolving,        // the host name is looked up
    Connecting,       // a connection to the server (or the proxy) is opened
    Sending,          // the request goes out; the next status line begins the server's answer
    ReceivingHeaders, // the header lines of an answer arrive
    Redirecting,      // a followed redirect's headers ended: the next answer comes from its target
    ReceivingBody,    // the final answer's headers were taken: its body is the output
    Resuming,         // a refused range: asked again from byte 0 whether what is there is all
    Restarting,       // what arrived does not fit the output there: everything again from byte 0
    Done,             // ended with the whole answer of status 200 or 206
    Failed,           // ended otherwise
};

// What a header line is, at the step the transfer is at.
enum class THeaderLineKind {
    Ignored,    // a proxy tunnel's answer before the request, or a trailer after the body
    StatusLine, // an answer begins
    Field,      // one header of the answer
    End,        // the empty line that ends the answer's headers
};

struct THeaderLine {
    THeaderLineKind Kind = THeaderLineKind::Ignored;
    int Status = 0; // the status number to report, 0 for none
};

class TTransferSteps {
public:
    TTransferState State() const { return Current; }
    // The status code of the answer begun last (0 before the first status line).
    int AnswerStatus() const { return Answer; }
    // The request in flight asks from byte 0 after a refused range.
    bool Rechecking() const { return Recheck; }
    // Body data belongs to the output only after the final answer's headers.
    bool TakesBody() const { return Current == TTransferState::ReceivingBody; }

    // A connection is made for the transfer (again, after a restart): no re-check pending.
    void BeginConnection();
    // One request goes out (again, after a refused range or credentials asked for).
    void BeginRequest();
    // libcurl's steps before the answer; each returns the status number to report.
    int Resolve();
    int Connect();
    int Prepare();
    // One header line as libcurl hands it over (with its line end).
    THeaderLine TakeHeaderLine(const std::string& line);
    // The headers of the answer ended. An interim answer (1xx) waits for the next one; libcurl
    // follows every 3xx answer that names a Location when redirects are on; any other answer
    // is the final one. Returns the status number to report.
    int EndHeaders(bool followsRedirects, bool hasLocation);
    // The final answer refused the range asked for: ask again from byte 0.
    void Resume();
    // What arrived did not fit the existing output: the transfer begins anew from byte 0.
    void Restart();
    // The transfer is over.
    void End(bool succeeded);

private:
    TTransferState Current = TTransferState::Starting;
    int Answer = 0;
    bool Recheck = false;
};

} // namespace cw
