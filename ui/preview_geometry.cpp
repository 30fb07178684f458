#include "ui/preview_geometry.h"

namespace snaplark {

PreviewRect FitPreview(int frameWidth, int frameHeight, int clientWidth, int clientHeight) {
  // volatile: a 32-bit x87 build would otherwise keep the quotients in
  // extended precision, and the truncations below must see single-precision
  // values.
  const volatile float frameAspect = static_cast<float>(frameWidth) / static_cast<float>(frameHeight);
  const volatile float clientAspect = static_cast<float>(clientWidth) / static_cast<float>(clientHeight);
  const float a = frameAspect;
  if (a > clientAspect) {
    const volatile float height = static_cast<float>(clientWidth) / a;
    const int dh = static_cast<int>(height);
    return {0, (clientHeight - dh) / 2, clientWidth, dh};
  }
  const volatile float width = static_cast<float>(clientHeight) * a;
  const int dw = static_cast<int>(width);
  return {(clientWidth - dw) / 2, 0, dw, clientHeight};
}

}  // namespace snaplark
