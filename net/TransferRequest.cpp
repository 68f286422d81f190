// The request of a transfer: libcurl's settings for it, its credentials and header lines,
// its time limits, the redirects it may follow, and the words for how libcurl ended it.
#include "net/TransferWorker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace cw {

namespace {

std::string Seconds(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, ms % 1000 ? "%.1f s" : "%.0f s", double(ms) / 1000.0);
    return text;
}

} // namespace

uint32_t TTransferWorker::ConnectLimit() const {
    return Run.Timeouts.ConnectTimeout ? Run.Timeouts.ConnectTimeout
                                       : TCustomWinHTTP::DefaultConnectTimeout;
}

uint32_t TTransferWorker::ReceiveLimit() const {
    return Run.Timeouts.ReceiveTimeout ? Run.Timeouts.ReceiveTimeout
                                       : TCustomWinHTTP::DefaultIdleTimeout;
}

uint32_t TTransferWorker::SendLimit() const {
    return Run.Timeouts.SendTimeout ? Run.Timeouts.SendTimeout : TCustomWinHTTP::DefaultIdleTimeout;
}

void TTransferWorker::SetupRequest(CURL* easy, const TUrlParts& parts) {
    const auto& io = Run.InternetOptions;
    auto has = [&](TInternetOption o) { return io.count(o) != 0; };

    // The request line carries the path and the extra information as the split decoded them,
    // encoded again by one rule: "%2C" goes out as ",", a space as "%20", "+" as "%2B".
    std::string host =
        parts.Host.find(':') != std::string::npos ? "[" + parts.Host + "]" : parts.Host;
    std::string path = parts.Path;
    if (path.empty() || path[0] != '/')
        path.insert(path.begin(), '/');
    const std::string scheme = LowerText(parts.Scheme);
    const bool defaultPort =
        (scheme == "http" && parts.Port == 80) || (scheme == "https" && parts.Port == 443);
    const std::string url = scheme + "://" + host +
                            (defaultPort ? "" : ":" + std::to_string(parts.Port)) +
                            EncodeUrlExtra(path) + EncodeUrlExtra(parts.ExtraInfo);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    if (!Run.Agent.empty())
        curl_easy_setopt(easy, CURLOPT_USERAGENT, Run.Agent.c_str());
    // A proxy tunnel's own answer reaches the header callback before the request is
    // prepared; it is reported as such and is not the answer to the request.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 0L);
    if (!Run.Referer.empty())
        curl_easy_setopt(easy, CURLOPT_REFERER, Run.Referer.c_str());

    if (IsPost()) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, Run.POSTData.data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(Run.POSTData.size()));
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }

    // Proxy: the preconfigured one is the environment's (http_proxy and the like).
    const auto& proxy = Run.Proxy;
    if (proxy.AccessType == atDirect) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    } else if (proxy.AccessType == atUseProxy) {
        const std::string server = proxy.ProxyServer + ":" + std::to_string(proxy.ProxyPort);
        curl_easy_setopt(easy, CURLOPT_PROXY, server.c_str());
        std::string bypass;
        for (char c : proxy.ProxyBypass)
            bypass += (c == ';' || c == ' ') ? ',' : c;
        while (!bypass.empty() && bypass.back() == ',')
            bypass.pop_back();
        curl_easy_setopt(easy, CURLOPT_NOPROXY, bypass.c_str());
    }
    if (proxy.AccessType != atDirect && !proxy.ProxyUsername.empty() &&
        !proxy.ProxyPassword.empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy.ProxyUsername.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy.ProxyPassword.c_str());
    }
    ApplyCredentials(easy);

    // Request flags.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, has(ioNoAutoRedirect) ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, TCustomWinHTTP::MaxRedirects);
    if (Run.Handles && Run.Handles->Pool) {
        // The pool's connections, cookies and names.
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(easy, CURLOPT_SHARE, Run.Handles->Pool->Share());
    } else if (!has(ioNoCookies)) {
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(easy, CURLOPT_SHARE, TCurlSession::Get().Share());
    }
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, has(ioIgnoreCertificateInvalid) ? 0L : 2L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER,
                     has(ioIgnoreUnknownCertificateAuthority) ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, has(ioKeepConnection) ? 0L : 1L);

    // Time-outs: the connect limit is libcurl's; receive and send limits are watched by
    // Perform, as the longest pause between data. 0 means the component's default.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(ConnectLimit()));

    // The steps, for the status texts.
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_FUNCTION, &TTransferWorker::ResolverStart);
    curl_easy_setopt(easy, CURLOPT_RESOLVER_START_DATA, this);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &TTransferWorker::OpenSocket);
    curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &TTransferWorker::Prerequest);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    // A kept connection is closed later, perhaps by another transfer or none: it reports to
    // the component that opened it by number, if that one is still there.
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &TTransferWorker::CloseSocket);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, reinterpret_cast<void*>(Run.StatusSinkId));

    // Fewer, larger reads from libcurl; blocks are cut to the block size here.
    const long bufferSize = long(std::clamp<uint32_t>(Run.BlockSize, 256 * 1024, 1024 * 1024));
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, bufferSize);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &TTransferWorker::HeaderCallback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &TTransferWorker::WriteCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
}

void TTransferWorker::ApplyCredentials(CURL* easy) {
    if (Run.InternetOptions.count(ioNoAuthentication))
        return;
    if (RequestUser.empty() && RequestPassword.empty())
        return;
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_USERNAME, RequestUser.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, RequestPassword.c_str());
}

void TTransferWorker::SetHeaders(CURL* easy) {
    curl_slist* list = nullptr;
    auto add = [&](const std::string& line) {
        if (curl_slist* grown = curl_slist_append(list, line.c_str()))
            list = grown;
    };
    for (const auto& line : Run.AddHeaders)
        if (!TrimText(line).empty())
            add(line);
    if (!Run.AcceptTypes.empty())
        add("Accept: " + Run.AcceptTypes);
    if (Run.CacheOptions.count(coPragmaNoCache))
        add("Pragma: no-cache");

    std::string range;
    if (Steps.Rechecking())
        range = "RANGE: bytes=0-";
    else if (Run.ResumeOffset != 0 || Run.EndOffset != 0)
        range = "RANGE: bytes=" + std::to_string(Run.ResumeOffset) + "-" +
                (Run.EndOffset ? std::to_string(Run.EndOffset) : "");
    else if (Run.Range.StartRange != 0 || Run.Range.EndRange != 0)
        range = "RANGE: bytes=" + std::to_string(Run.Range.StartRange) + "-" +
                (Run.Range.EndRange ? std::to_string(Run.Range.EndRange) : "");
    if (!range.empty())
        add(range);

    if (IsPost())
        add("Content-Type: application/x-www-form-urlencoded");
    add("Expect:"); // no 100-continue round trip before a form body
    Headers.reset(list);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
}

bool TTransferWorker::OnRedirect(CURL* easy) {
    if (++Redirects > TCustomWinHTTP::MaxRedirects) {
        Run.ErrorText = "More than " + std::to_string(TCustomWinHTTP::MaxRedirects) + " redirects.";
        Stop = EStop::Finished;
        return false;
    }
    char* current = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &current);
    std::string target = Field("location");
    TCurlUrl u(curl_url());
    if (u && current && curl_url_set(u.get(), CURLUPART_URL, current, 0) == CURLUE_OK &&
        curl_url_set(u.get(), CURLUPART_URL, target.c_str(), 0) == CURLUE_OK) {
        char* resolved = nullptr;
        if (curl_url_get(u.get(), CURLUPART_URL, &resolved, 0) == CURLUE_OK) {
            target = resolved;
            curl_free(resolved);
        }
    }
    // Only http and https are followed: anything else ends the transfer here, before
    // libcurl is asked.
    const size_t colon = target.find(':');
    const bool named =
        colon != std::string::npos && colon > 0 &&
        std::isalpha(static_cast<unsigned char>(target[0])) &&
        std::all_of(target.begin(), target.begin() + long(colon), [](unsigned char c) {
            return std::isalnum(c) || c == '+' || c == '-' || c == '.';
        });
    const std::string scheme = named ? LowerText(target.substr(0, colon)) : "http";
    if (scheme != "http" && scheme != "https") {
        Run.ErrorText = "A redirect to \"" + target +
                        "\" was refused: only http and "
                        "https addresses are fetched.";
        Stop = EStop::Finished;
        return false;
    }
    if (Run.OnRedirected && !Stopping())
        Run.OnRedirected(&Owner, target);
    return true;
}

std::string TTransferWorker::ResultText(CURLcode result) const {
    switch (result) {
    case CURLE_OPERATION_TIMEDOUT:
        if (TimedOutHere && TimedOutSending)
            return "No data could be sent for " + Seconds(SendLimit()) +
                   ": the connection is lost.";
        if (TimedOutHere)
            return "No data arrived for " + Seconds(ReceiveLimit()) + ": the connection is lost.";
        return "No connection to the server within " + Seconds(ConnectLimit()) + ".";
    case CURLE_TOO_MANY_REDIRECTS:
        return "More than " + std::to_string(TCustomWinHTTP::MaxRedirects) + " redirects.";
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "Only http and https addresses are fetched.";
    default:
        return curl_easy_strerror(result);
    }
}

} // namespace cw
