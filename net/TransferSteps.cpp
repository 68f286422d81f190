#include "net/TransferSteps.h"

#include <cstdlib>

namespace cw {

void TTransferSteps::BeginConnection() {
    Recheck = false;
}

void TTransferSteps::BeginRequest() {
    Current = TTransferState::Starting;
    Answer = 0;
}

int TTransferSteps::Resolve() {
    Current = TTransferState::Resolving;
    return 10;
}

int TTransferSteps::Connect() {
    Current = TTransferState::Connecting;
    return 20;
}

int TTransferSteps::Prepare() {
    Current = TTransferState::Sending;
    return 30;
}

THeaderLine TTransferSteps::TakeHeaderLine(const std::string& line) {
    const bool empty = line == "\r\n" || line == "\n";
    switch (Current) {
    case TTransferState::Starting:
    case TTransferState::Resolving:
    case TTransferState::Connecting:
        // Before the request goes out only a proxy answers, to the tunnel request.
        return {THeaderLineKind::Ignored, empty ? 42 : 0};
    default:
        break;
    }
    if (line.rfind("HTTP/", 0) == 0) {
        // A new answer (an interim one, a redirect or the final one) begins.
        const size_t space = line.find(' ');
        Answer = space == std::string::npos ? 0 : std::atoi(line.c_str() + space + 1);
        Current = TTransferState::ReceivingHeaders;
        return {THeaderLineKind::StatusLine, 40};
    }
    if (Current != TTransferState::ReceivingHeaders)
        return {}; // trailers after a chunked body
    return {empty ? THeaderLineKind::End : THeaderLineKind::Field, 0};
}

int TTransferSteps::EndHeaders(bool followsRedirects, bool hasLocation) {
    if (Answer >= 100 && Answer < 200) {
        Current = TTransferState::Sending;
        return 120;
    }
    const bool redirect = followsRedirects && Answer >= 300 && Answer < 400 && hasLocation;
    Current = redirect ? TTransferState::Redirecting : TTransferState::ReceivingBody;
    return 41;
}

void TTransferSteps::Resume() {
    Current = TTransferState::Resuming;
    Recheck = true;
}

void TTransferSteps::Restart() {
    Current = TTransferState::Restarting;
}

void TTransferSteps::End(bool succeeded) {
    Current = succeeded ? TTransferState::Done : TTransferState::Failed;
}

} // namespace cw
