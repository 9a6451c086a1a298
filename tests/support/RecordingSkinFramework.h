#pragma once

#include "window/desktop/SkinFramework.h"

#include <QStringList>

#include <functional>

// What the window asked of its theming layer, one line a call, shared by every
// stand-in a test platform makes. A test may add its own lines (through
// `note`) to check the order of the window's own changes against the calls.
struct SkinRecord {
    QStringList calls;
    // Runs after each call is noted, before the call does anything else.
    std::function<void(const QString& call)> onCall;
    // The call (as its line starts, e.g. "loadSkin") that raises Failure.
    QString failingCall;
    int options = 0;  // what reading the option flags gives

    void note(const QString& call);
};

class RecordingSkinFramework : public SkinFramework {
public:
    explicit RecordingSkinFramework(SkinRecord& record) : m_record(record) {}

    void loadSkin(const QString& skinPath, const QString& imageFolder) override;
    int options() const override;
    void setOptions(int options) override;
    void setResolveRelativeUrls(bool on) override;
    void setSkinDialogs(bool on) override;
    void applyWindow(WId handle) override;

private:
    void call(const QString& line) const;
    SkinRecord& m_record;
};
