#include "base/program_image.h"
#include "loader/loader.h"

int main() { return RunLoader(&image::TheProgramImage()); }
