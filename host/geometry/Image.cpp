#include "geometry/Image.h"

Image::Image() = default;

Image::~Image() = default;
