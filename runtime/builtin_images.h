// The program's few small images, compiled in as pixels: showing them loads
// no image plugin, which a start would otherwise pay for (Qt opens every
// image plugin it has to learn which formats they read).
#pragma once

#include <QPixmap>
#include <string_view>

// The image of a resource name the window descriptions use (":/images/..."),
// from the compiled-in pixels when it is one of them, else loaded as usual.
QPixmap ImageNamed(std::string_view name);
