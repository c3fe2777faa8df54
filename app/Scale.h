// The scale the scene is drawn at: device pixels per logical unit, chosen once at start.
#pragma once

// What --scale asked for; 0 when it was not given.
extern double ScaleAsked;

// The scale asked for, else the desktop's rounded to 1/8 and kept from 0.5 to 4; then lowered,
// when a window that large would not fit the work area, to the largest multiple of 1/8 that
// fits, but not below 1: a scale of 1 or less is kept (a screen too small for the 800 by 600
// window keeps the window it always had). `workWidth` and `workHeight` are 0 when unknown.
double ChooseScale(double asked, double desktop, int workWidth, int workHeight);

// The scale of a scene that fills a client area of that size: the largest multiple of 1/8 from
// 0.5 to 4 at which 800 by 600 units fit in it (0.5 where not even that fits).
double FittingScale(int clientWidth, int clientHeight);

// ChooseScale with what the command line and the desktop say.
double SceneScale();
