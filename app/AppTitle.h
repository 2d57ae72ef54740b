#pragma once
// The application title: the program's name, the start of the window caption and of the start-up
// boxes' captions, and the name under which the running copy is found.

inline constexpr char kAppTitle[] = "Korvi";
