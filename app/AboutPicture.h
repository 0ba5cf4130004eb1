// The About box's picture: the JPEG (JFIF) file app/resources/about.jpg,
// built into the program as it is, to be decoded with decodeJpeg when the
// box is created.
#pragma once

#include <span>

std::span<const unsigned char> aboutPictureJpeg();
