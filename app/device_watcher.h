// Watches for disks arriving and leaving and tells the disk list once things
// have settled: a card reader or a hub announces itself in a burst of events,
// and the list is brought up to date once, a few seconds after the last one.
// Listens to the kernel's device events; where that socket cannot be opened,
// looks at the list of block devices every two seconds instead.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_events.h"

class QSocketNotifier;

namespace sorvane::app {

class CDeviceWatcher : public QObject {
  public:
    static constexpr int kSettleMs = 5000;
    static constexpr int kPollMs = 2000;

    // `update` runs on the window's thread when a burst of changes has settled.
    explicit CDeviceWatcher(std::function<void()> update, int settleMs = kSettleMs, int pollMs = kPollMs);
    ~CDeviceWatcher() override;

    // Starts listening; with `pollOnly`, or when the event socket cannot be
    // opened, polls instead. Returns true when listening to the kernel.
    bool Start(bool pollOnly = false);
    bool IsPolling() const { return polling_; }

    // Handles one event as if it had come from the kernel.
    void OnEvent(const DeviceEvent& event);
    bool IsSettling() const { return settle_.isActive(); }

  private:
    void Poll();

    std::function<void()> update_;
    int settleMs_;
    int pollMs_;
    DeviceEventSocket socket_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer settle_;
    QTimer poll_;
    bool polling_ = false;
    std::vector<std::string> lastNames_;
};

}  // namespace sorvane::app
