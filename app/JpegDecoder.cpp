// libjpeg ends the process on any error unless told otherwise: its errors come
// back here by longjmp to the one function that drives the decoder, and its
// warnings (damaged or truncated data) are counted instead of printed.
#include "JpegDecoder.h"

#include <climits>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <new>

#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;  // first, so that libjpeg's pointer to it is ours too
    std::jmp_buf jump;
    long warnings = 0;
    char firstWarning[JMSG_LENGTH_MAX] = {};
    char error[JMSG_LENGTH_MAX] = {};
};

ErrorManager &managerOf(j_common_ptr cinfo)
{
    return *reinterpret_cast<ErrorManager *>(cinfo->err);
}

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    ErrorManager &err = managerOf(cinfo);
    (*cinfo->err->format_message)(cinfo, err.error);
    std::longjmp(err.jump, 1);
}

void emitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;  // trace output
    ErrorManager &err = managerOf(cinfo);
    if (err.warnings++ == 0)
        (*cinfo->err->format_message)(cinfo, err.firstWarning);
    ++cinfo->err->num_warnings;
}

void outputMessage(j_common_ptr) {}

// RGB pixels at the start of an RGBA row, spread out from the last one so
// that none is overwritten before it has moved.
[[maybe_unused]] void widenToRgba(unsigned char *row, JDIMENSION width)
{
    for (JDIMENSION x = width; x-- > 0;) {
        const unsigned char r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
        row[4 * x] = r;
        row[4 * x + 1] = g;
        row[4 * x + 2] = b;
        row[4 * x + 3] = 255;
    }
}

// Everything between the setjmp and a longjmp back to it is plain C data or
// lives in the caller, so no destructor is skipped by the jump.
bool runDecoder(jpeg_decompress_struct &cinfo, ErrorManager &err, const unsigned char *data,
                unsigned long size, JpegPixelFormat format, std::uint64_t maxPixels, JpegImage &image)
{
    if (setjmp(err.jump) != 0)
        return false;

    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);

    const int channels = format == JpegPixelFormat::Rgba8888 ? 4 : 3;
#ifdef JCS_EXTENSIONS
    cinfo.out_color_space = channels == 4 ? JCS_EXT_RGBA : JCS_RGB;
    const int decodedChannels = channels;
#else
    cinfo.out_color_space = JCS_RGB;  // widened to RGBA row by row below
    const int decodedChannels = 3;
#endif
    const std::uint64_t pixels = std::uint64_t{cinfo.image_width} * cinfo.image_height;
    if (pixels == 0 || pixels > maxPixels || cinfo.image_width > INT_MAX || cinfo.image_height > INT_MAX) {
        std::snprintf(err.error, sizeof err.error, "Picture of %u x %u pixels is too large",
                      static_cast<unsigned>(cinfo.image_width), static_cast<unsigned>(cinfo.image_height));
        return false;
    }

    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != decodedChannels) {
        std::snprintf(err.error, sizeof err.error, "Unexpected %d components a pixel",
                      cinfo.output_components);
        return false;
    }
    image.width = static_cast<int>(cinfo.output_width);
    image.height = static_cast<int>(cinfo.output_height);
    image.format = format;
    image.bytesPerLine = std::size_t{cinfo.output_width} * static_cast<std::size_t>(channels);
    image.pixels.resize(image.bytesPerLine * cinfo.output_height);

    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image.pixels.data() + std::size_t{cinfo.output_scanline} * image.bytesPerLine;
        // A memory source never suspends; no row read would mean no progress.
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
            std::snprintf(err.error, sizeof err.error, "Decoder stopped at row %u",
                          static_cast<unsigned>(cinfo.output_scanline));
            return false;
        }
        if (decodedChannels != channels)
            widenToRgba(row, cinfo.output_width);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

} // namespace

JpegImage decodeJpeg(const void *data, std::size_t size, JpegPixelFormat format, std::uint64_t maxPixels)
{
    JpegImage image;
    image.format = format;
    if (data == nullptr || size == 0) {
        image.message = "No picture data";
        return image;
    }
    if (size > ULONG_MAX) {
        image.message = "Picture data too large";
        return image;
    }

    jpeg_decompress_struct cinfo{};
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;

    bool ok = false;
    try {
        ok = runDecoder(cinfo, err, static_cast<const unsigned char *>(data),
                        static_cast<unsigned long>(size), format, maxPixels, image);
    } catch (const std::bad_alloc &) {
        std::snprintf(err.error, sizeof err.error, "Out of memory for the pixels");
    }
    jpeg_destroy_decompress(&cinfo);

    if (!ok) {
        JpegImage failed;
        failed.format = format;
        failed.message = err.error[0] != '\0' ? err.error : "Not a decodable JPEG picture";
        return failed;
    }
    if (err.warnings > 0) {
        image.status = JpegStatus::Partial;
        image.message = err.firstWarning;
    } else {
        image.status = JpegStatus::Complete;
    }
    return image;
}
