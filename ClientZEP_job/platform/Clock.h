#pragma once

#include <QDateTime>

// Local date and time, injected wherever a path, a query or a decision depends on it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;

    // The machine's own clock.
    static const Clock& system();
};

// A clock that stands still at a given moment until moved; for tests and tools.
class FixedClock : public Clock {
public:
    explicit FixedClock(QDateTime at) : at_(std::move(at)) {}
    QDateTime now() const override { return at_; }
    void set(QDateTime at) { at_ = std::move(at); }

private:
    QDateTime at_;
};
