#include "geometry/Shape.h"

Shape::Shape() = default;

Shape::~Shape() = default;
