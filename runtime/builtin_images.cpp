#include "runtime/builtin_images.h"

#include <QImage>
#include <array>
#include <cstdint>

namespace {

struct BuiltInImage {
  const char* name;
  int width;
  int height;
  std::array<std::uint8_t, 16 * 16 * 4> rgba;
};

#include "runtime/images/builtin_images.inc"

constexpr const BuiltInImage* kImages[] = {&k_icon, &k_button1, &k_button2};

}  // namespace

QPixmap ImageNamed(std::string_view name) {
  for (const BuiltInImage* image : kImages) {
    if (name == image->name) {
      // QImage only borrows the bytes; the pixmap holds its own copy.
      const QImage pixels(image->rgba.data(), image->width, image->height, image->width * 4,
                          QImage::Format_RGBA8888);
      return QPixmap::fromImage(pixels);
    }
  }
  return QPixmap(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}
