// Decodes a JPEG (JFIF) picture held in memory with libjpeg, into 8-bit RGB
// or RGBA pixels. No toolkit dependency: the About box turns the pixels into
// an image of its own toolkit.
//
// Damaged data never ends the process and is never read beyond `size`: a
// picture cut short or with corrupt stretches is still decoded whole, the
// missing parts filled in by the decoder (status Partial, with the reason),
// and data that cannot be decoded at all gives status Failed with the reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class JpegPixelFormat {
    Rgb888,    // 3 bytes a pixel: red, green, blue
    Rgba8888,  // 4 bytes a pixel: red, green, blue, alpha (always 255)
};

enum class JpegStatus {
    Complete,  // every pixel came from the data
    Partial,   // decoded, but the data was cut short or damaged; see `message`
    Failed,    // nothing decoded; see `message`
};

struct JpegImage {
    JpegStatus status = JpegStatus::Failed;
    int width = 0;
    int height = 0;
    JpegPixelFormat format = JpegPixelFormat::Rgb888;
    std::size_t bytesPerLine = 0;      // width * bytes a pixel, rows are packed
    std::vector<std::uint8_t> pixels;  // `height` rows, top row first; empty when Failed
    std::string message;               // the decoder's reason when not Complete

    bool decoded() const { return status != JpegStatus::Failed; }
};

// Pictures larger than this are refused before any pixel memory is taken: a
// header can claim 65535 x 65535 in a few bytes.
inline constexpr std::uint64_t kJpegDefaultMaxPixels = 64ull * 1024 * 1024;

JpegImage decodeJpeg(const void *data, std::size_t size,
                     JpegPixelFormat format = JpegPixelFormat::Rgb888,
                     std::uint64_t maxPixels = kJpegDefaultMaxPixels);
