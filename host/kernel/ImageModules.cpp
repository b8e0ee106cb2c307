#include "kernel/ImageModules.h"

ImageWriter::ImageWriter() = default;
ImageWriter::~ImageWriter() = default;

ImageParser::ImageParser() = default;
ImageParser::~ImageParser() = default;
