// Compresses a binary PPM (P6, maxval 255) to a baseline JFIF JPEG with
// libjpeg: make-about-picture-encode IN.ppm OUT.jpg [QUALITY]. Used by
// make-about-picture.sh; full-resolution colour (4:4:4), because the thin
// lines of the artwork would bleed with subsampled chroma.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

bool readToken(std::FILE *in, std::string &token)
{
    token.clear();
    int c;
    while ((c = std::fgetc(in)) != EOF) {
        if (c == '#') {
            while ((c = std::fgetc(in)) != EOF && c != '\n') {
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!token.empty())
                return true;
            continue;
        }
        token.push_back(static_cast<char>(c));
    }
    return !token.empty();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s IN.ppm OUT.jpg [QUALITY]\n", argv[0]);
        return 2;
    }
    const int quality = argc > 3 ? std::atoi(argv[3]) : 92;
    std::FILE *in = std::fopen(argv[1], "rb");
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    std::string magic, w, h, maxval;
    if (!readToken(in, magic) || magic != "P6" || !readToken(in, w) || !readToken(in, h)
        || !readToken(in, maxval) || maxval != "255") {
        std::fprintf(stderr, "%s: not a binary PPM with maxval 255\n", argv[1]);
        return 1;
    }
    const int width = std::atoi(w.c_str());
    const int height = std::atoi(h.c_str());
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535) {
        std::fprintf(stderr, "%s: bad size\n", argv[1]);
        return 1;
    }
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    if (std::fread(pixels.data(), 1, pixels.size(), in) != pixels.size()) {
        std::fprintf(stderr, "%s: short pixel data\n", argv[1]);
        return 1;
    }
    std::fclose(in);

    std::FILE *out = std::fopen(argv[2], "wb");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);  // a failure here may end the tool
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);  // YCbCr with a JFIF header
    jpeg_set_quality(&cinfo, quality, TRUE);
    for (int i = 0; i < cinfo.num_components; ++i) {
        cinfo.comp_info[i].h_samp_factor = 1;
        cinfo.comp_info[i].v_samp_factor = 1;
    }
    cinfo.optimize_coding = TRUE;
    cinfo.density_unit = 1;  // 96 dots an inch, the screen it is shown on
    cinfo.X_density = 96;
    cinfo.Y_density = 96;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = pixels.data() + static_cast<std::size_t>(cinfo.next_scanline) * static_cast<std::size_t>(width) * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
