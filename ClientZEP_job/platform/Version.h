#pragma once

// The program's own version: shown in the caption, the "ver" reply and the version packet.
namespace Version {
inline constexpr int Major = 3;
inline constexpr int Minor = 4;
inline constexpr int Revision = 301;
inline constexpr const char* Text = "3.4.301";
} // namespace Version
