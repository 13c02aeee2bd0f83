#pragma once

#include <QColor>
#include <QIcon>

// The pictures of the contact tree, by image number: 1 a department group, 3 an offline user, 4 an online
// user and every other number a user in some other state. Needs a QGuiApplication; the icons are drawn once
// and shared afterwards.
namespace ImageList1 {

inline constexpr int Group = 1;
inline constexpr int Offline = 3;
inline constexpr int Online = 4;

QIcon icon(int image);

// The colour of the status dot drawn for a user image.
QColor statusColor(int image);

} // namespace ImageList1
