#pragma once
// The desktop program on a throwaway simulated machine, with the sample
// release beside it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <memory>

#include "tests/qt/modal_answerer.h"
#include "tests/support/sim_fixture.h"
#include "sample/sample_release.h"
#include "ui/qt/application.h"

namespace varnel::test {

class QtTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Result<> written = sample::WriteRelease(Release(""));
        ASSERT_TRUE(written.Ok()) << written.Reason();
    }
    void TearDown() override {
        app.reset();
        QApplication::processEvents();
    }

    std::string Release(const std::string& name) const { return sim.dir.File("release/" + name); }

    qt::Application& App() {
        if (!app) {
            app = std::make_unique<qt::Application>(sim.Machine(), sim.Machine());
            app->Dialog().SetBackupDirectory(sim.dir.Path() / "backups");
            app->Dialog().SetHistoryPath(sim.dir.Path() / "history.jsonl");
            app->Dialog().SetLockDirectory(sim.dir.Path() / "locks");
            app->SetWindowPlaceFile(sim.dir.File("window-place"));
        }
        return *app;
    }
    // The program as it starts with these files; the start's requests are
    // left out of the trace.
    qt::Application& Start(const std::vector<std::string>& files = {}) {
        App().Start(files);
        sim.Trace();
        return *app;
    }
    void WithLatency() {
        sim.Configure([](sim::MachineConfig& config) { config.latencyEnabled = true; });
    }
    size_t Writes() {
        size_t n = 0;
        for (const auto& line : sim.Trace())
            if (line["oid"] == 0xFF01018C) ++n;
        return n;
    }
    template <typename W>
    W* Find(const char* name) {
        W* widget = App().Window().findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    SimFixture sim;
    std::unique_ptr<qt::Application> app;
};

// Runs the event loop until `done` or the time limit; false on time-out.
inline bool SpinUntil(const std::function<bool()>& done, int limitMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

}  // namespace varnel::test
