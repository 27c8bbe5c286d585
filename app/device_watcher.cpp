#include "app/device_watcher.h"

#include <QSocketNotifier>

namespace sorvane::app {

CDeviceWatcher::CDeviceWatcher(std::function<void()> update, int settleMs, int pollMs)
    : update_(std::move(update)), settleMs_(settleMs), pollMs_(pollMs) {
    settle_.setSingleShot(true);
    QObject::connect(&settle_, &QTimer::timeout, this, [this] {
        if (update_) update_();
    });
    QObject::connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
}

CDeviceWatcher::~CDeviceWatcher() = default;

bool CDeviceWatcher::Start(bool pollOnly) {
    if (!pollOnly && socket_.Open()) {
        notifier_ = std::make_unique<QSocketNotifier>(socket_.Fd(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
            for (const DeviceEvent& event : socket_.ReadPending()) OnEvent(event);
        });
        polling_ = false;
        return true;
    }
    polling_ = true;
    lastNames_ = BlockDeviceNames();
    poll_.start(pollMs_);
    return false;
}

void CDeviceWatcher::OnEvent(const DeviceEvent& event) {
    // Each change starts the wait again, so a burst ends in one update.
    if (event.IsBlockArrivalOrRemoval()) settle_.start(settleMs_);
}

void CDeviceWatcher::Poll() {
    std::vector<std::string> names = BlockDeviceNames();
    if (names == lastNames_) return;
    lastNames_ = std::move(names);
    settle_.start(settleMs_);
}

}  // namespace sorvane::app
