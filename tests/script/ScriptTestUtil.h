// A script host with "Host" whose echoes, alerts, errors and events are recorded in order.
#pragma once

#include "script/Script.h"

#include <memory>
#include <string>
#include <vector>

namespace cw::test {

struct TRecordedHost {
    TJavaScript Script;
    std::shared_ptr<THostScriptlet> Host = std::make_shared<THostScriptlet>();
    std::vector<std::string> Echoes;
    std::vector<std::string> Alerts;
    std::vector<TScriptError> Errors;
    // Events in order: "state:N", "enter", "leave", "echo", "error".
    std::vector<std::string> Events;

    TRecordedHost() {
        Host->OnEcho = [this](THostScriptlet&, const std::string& text) {
            Echoes.push_back(text);
            Events.push_back("echo");
        };
        Host->OnAlert = [this](THostScriptlet&, const std::string& text) {
            Alerts.push_back(text);
        };
        Script.AddItem(Host);
        Script.OnError = [this](TCustomScript&, const TScriptError& error) {
            Errors.push_back(error);
            Events.push_back("error");
        };
        Script.OnEnter = [this](TCustomScript&) { Events.push_back("enter"); };
        Script.OnLeave = [this](TCustomScript&) { Events.push_back("leave"); };
        Script.OnStateChange = [this](TCustomScript&, TScriptState state) {
            Events.push_back("state:" + std::to_string(static_cast<int>(state)));
        };
    }

    void Run(std::vector<std::string> lines) {
        Script.Lines = std::move(lines);
        Script.Run();
    }
};

inline std::string State(TScriptState state) {
    return "state:" + std::to_string(static_cast<int>(state));
}

} // namespace cw::test
