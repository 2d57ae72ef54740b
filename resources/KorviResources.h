#pragma once
// The program's own pictures, compiled in. Paths:
//   :/korvi/icons/tab-*.png      the page tabs (32 x 32)
//   :/korvi/icons/donate.png     the picture above the donation note (128 x 128)
//   :/korvi/pictures/NAME.png    the button pictures "STARTDL", "STOPDL", "BATRECODE" (32 x 32)

#include <QString>

// Makes the resources available; call once before the first use (any number of calls is fine).
void InitKorviResources();

// ":/korvi/pictures/NAME.png" for a button picture's name.
QString PictureResourcePath(const QString &name);
