// A download queue with the real transfer components and script host, a view that records
// what the queue shows, a download folder and the fake video service.
#pragma once

#include "app/GlobalVars.h"
#include "base/MainThread.h"
#include "download/DownloadQueue.h"
#include "script/Script.h"
#include "tests/support/FakeVideoService.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace cw::test {

class TRecordingDownloadHost : public IDownloadView {
public:
    void PostStep(TDownloadStep step) override {
        Steps.push_back(step);
        PostToMainThread([this, step] {
            if (Queue)
                Queue->HandleStep(step);
        });
    }
    void QueueChanged(const std::vector<TDownloadItem>&) override { ++QueueChanges; }
    void ItemChanged(int index, const TDownloadItem& item) override {
        auto& log = Statuses[index];
        if (log.empty() || log.back() != item.Status)
            log.push_back(item.Status);
        Last[index] = item;
        auto& reasons = Reasons[index];
        if (!item.Reason.empty() && (reasons.empty() || reasons.back() != item.Reason))
            reasons.push_back(item.Reason);
        if (OnItem)
            OnItem(index, item);
    }
    void LabelsChanged(const TDownloadLabels& labels) override {
        const std::string& quality = labels.Quality;
        if (quality != "..." && (QualityLabels.empty() || QualityLabels.back() != quality))
            QualityLabels.push_back(quality);
        if (OnLabels)
            OnLabels();
    }
    void RunEnded() override { ++Ended; }
    void ScriptError(const std::string& message) override { Errors.push_back(message); }

    TDownloadQueue* Queue = nullptr;
    std::vector<TDownloadStep> Steps;
    int QueueChanges = 0;
    std::map<int, std::vector<std::string>> Statuses; // status texts in order, per item
    std::map<int, TDownloadItem> Last;                // each item as last shown
    std::map<int, std::vector<std::string>> Reasons;  // failure reasons in order, per item
    std::vector<std::string> QualityLabels;
    std::vector<std::string> Errors;
    int Ended = 0;
    std::function<void(int, const TDownloadItem&)> OnItem;
    std::function<void()> OnLabels;
};

class TQueueRig {
public:
    TQueueRig() {
        Previous = SetMainThreadDispatcher(&Dispatcher);
        HostItem = std::make_shared<THostScriptlet>();
        Script.AddItem(HostItem);
        Queue = std::make_unique<TDownloadQueue>(Vars, Script, HostItem, Host);
        Host.Queue = Queue.get();
        Queue->VideoSiteDomain = Service.Domain();
        Queue->ScriptPause = std::chrono::milliseconds(0);
        // The built-in route alone, unless a test asks for the external resolver.
        Queue->ResolverMode = TResolverMode::rmBuiltin;
        Vars.OutputURLDir = Folder.Path;
        Vars.PreferYouTubeQuality = false;
        Vars.PreferYouTube1 = 1;
        Vars.PreferYouTube2 = 2;
        Vars.PreferYouTube3 = 3;
        Vars.PreferYouTube4 = 0;
        Vars.PreferYouTube5 = 4;
        Vars.PreferYouTube6 = 5;
        Vars.PreferYouTube7 = 6;
        Vars.PreferYouTube18 = 7;
    }
    ~TQueueRig() {
        Host.Queue = nullptr;
        Queue.reset();
        Dispatcher.ServePendingCalls();
        SetMainThreadDispatcher(Previous);
    }

    // Downloads the links and waits for the end of the run; false when it did not end.
    bool Run(const std::vector<std::string>& links, int timeoutMs = 30000) {
        Queue->BuildQueue(links);
        Queue->StartRun();
        return WaitServing([&] { return Host.Ended > 0; }, std::chrono::milliseconds(timeoutMs));
    }
    // Links of the fake service for the ids.
    std::vector<std::string> Links(const std::vector<std::string>& ids) const {
        std::vector<std::string> links;
        for (const auto& id : ids)
            links.push_back(Service.WatchUrl(id));
        return links;
    }

    TQueueDispatcher Dispatcher;
    TFakeVideoService Service;
    TTempDir Folder{"cwdl"};
    TGlobalVars Vars;
    TJavaScript Script;
    std::shared_ptr<THostScriptlet> HostItem;
    TRecordingDownloadHost Host;
    std::unique_ptr<TDownloadQueue> Queue;

private:
    IMainThreadDispatcher* Previous = nullptr;
};

} // namespace cw::test
