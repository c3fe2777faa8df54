// Choosing the scene's scale from the command line, the desktop and the work area.
#include "app/Scale.h"

#include <algorithm>
#include <cmath>

#include "platform/Platform.h"
#include "render/Graph_un.h"

double ScaleAsked = 0;

namespace {
constexpr double SmallestScale = 0.5;
constexpr double LargestScale = 4;
}  // namespace

double ChooseScale(double asked, double desktop, int workWidth, int workHeight) {
  double scale = asked;
  if (scale <= 0) {
    // Eighths keep 800 by 600 units whole pixels; a desktop that says nothing usable is 1.
    scale = std::isfinite(desktop) && desktop > 0 ? std::round(desktop * 8) / 8 : 1;
    scale = std::min(std::max(scale, SmallestScale), LargestScale);
  }
  if (workWidth <= 0 || workHeight <= 0) return scale;
  const double fits = std::floor(std::min(double(workWidth) * 8 / LogicalScreenWidth,
                                          double(workHeight) * 8 / LogicalScreenHeight)) /
                      8;
  if (fits >= scale) return scale;
  return std::max(fits, std::min(scale, 1.0));
}

double FittingScale(int clientWidth, int clientHeight) {
  const double fits = std::floor(std::min(double(clientWidth) * 8 / LogicalScreenWidth,
                                          double(clientHeight) * 8 / LogicalScreenHeight)) /
                      8;
  return std::min(std::max(fits, SmallestScale), LargestScale);
}

double SceneScale() {
  int width = 0, height = 0;
  if (!DesktopWorkArea(&width, &height)) width = height = 0;
  return ChooseScale(ScaleAsked, ScaleAsked > 0 ? 1 : DesktopScale(), width, height);
}
