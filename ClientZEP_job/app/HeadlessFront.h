#pragma once

#include <QObject>

class frmMain;

// The front without a window: one line on standard error for every change of state, which suits systemd and
// journald.
class HeadlessFront : public QObject {
    Q_OBJECT
public:
    explicit HeadlessFront(frmMain& form);
};
