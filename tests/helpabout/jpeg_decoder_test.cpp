// The JPEG decoder on the shipped About picture and on damaged copies of it.
// Every copy is placed right before an inaccessible memory page, so a read
// past its end stops the test with a fault instead of passing unnoticed.
#include "AboutPicture.h"
#include "JpegDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::uint8_t> shippedPicture()
{
    std::ifstream in(DALVORA_ABOUT_JPG, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `size` bytes that end where a page without any access right begins; the
// bytes themselves are read-only.
class GuardedBuffer {
public:
    GuardedBuffer(const std::uint8_t *data, std::size_t size) : size_(size)
    {
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const std::size_t dataPages = std::max<std::size_t>(1, (size + page - 1) / page);
        mapped_ = (dataPages + 1) * page;
        void *base = ::mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED)
            throw std::bad_alloc();
        base_ = static_cast<std::uint8_t *>(base);
        start_ = base_ + dataPages * page - size;
        if (size > 0)
            std::memcpy(start_, data, size);
        ::mprotect(base_, dataPages * page, PROT_READ);
        ::mprotect(base_ + dataPages * page, page, PROT_NONE);
    }
    ~GuardedBuffer() { ::munmap(base_, mapped_); }
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;

    const std::uint8_t *data() const { return start_; }
    std::size_t size() const { return size_; }

private:
    std::uint8_t *base_ = nullptr;
    std::uint8_t *start_ = nullptr;
    std::size_t size_ = 0;
    std::size_t mapped_ = 0;
};

JpegImage decodeGuarded(const std::vector<std::uint8_t> &bytes, std::size_t length,
                        JpegPixelFormat format = JpegPixelFormat::Rgb888)
{
    GuardedBuffer buffer(bytes.data(), length);
    return decodeJpeg(buffer.data(), buffer.size(), format);
}

// Whatever the outcome, it must be one the caller can use safely.
void expectConsistent(const JpegImage &image, const std::string &what)
{
    SCOPED_TRACE(what);
    if (image.status == JpegStatus::Failed) {
        EXPECT_TRUE(image.pixels.empty());
        EXPECT_EQ(image.width, 0);
        EXPECT_EQ(image.height, 0);
        EXPECT_FALSE(image.message.empty());
        return;
    }
    EXPECT_GT(image.width, 0);
    EXPECT_GT(image.height, 0);
    EXPECT_EQ(image.bytesPerLine, static_cast<std::size_t>(image.width) * 3);
    EXPECT_EQ(image.pixels.size(), image.bytesPerLine * static_cast<std::size_t>(image.height));
    if (image.status == JpegStatus::Partial) {
        EXPECT_FALSE(image.message.empty());
    }
}

std::size_t findMarker(const std::vector<std::uint8_t> &bytes, std::uint8_t marker)
{
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == marker)
            return i;
    return bytes.size();
}

const std::uint8_t *pixel(const JpegImage &image, int x, int y)
{
    const std::size_t bytes = image.format == JpegPixelFormat::Rgba8888 ? 4 : 3;
    return image.pixels.data() + static_cast<std::size_t>(y) * image.bytesPerLine + static_cast<std::size_t>(x) * bytes;
}

} // namespace

TEST(AboutPicture, IsAJfifFileOf65By241)
{
    const std::vector<std::uint8_t> bytes = shippedPicture();
    ASSERT_GT(bytes.size(), 20u) << DALVORA_ABOUT_JPG;
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);  // start of image
    EXPECT_EQ(bytes[2], 0xFF);
    EXPECT_EQ(bytes[3], 0xE0);  // APP0 ...
    EXPECT_EQ(std::memcmp(bytes.data() + 6, "JFIF\0", 5), 0);  // ... of JFIF
    EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
    EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);  // end of image

    const JpegImage image = decodeGuarded(bytes, bytes.size());
    ASSERT_EQ(image.status, JpegStatus::Complete) << image.message;
    EXPECT_EQ(image.width, 65);
    EXPECT_EQ(image.height, 241);
    EXPECT_EQ(image.format, JpegPixelFormat::Rgb888);
    EXPECT_EQ(image.bytesPerLine, 65u * 3);
    EXPECT_EQ(image.pixels.size(), 65u * 3 * 241);
    EXPECT_TRUE(image.message.empty());

    // The artwork: a dark blue head, a light module housing on the right.
    const std::uint8_t *top = pixel(image, 60, 2);
    EXPECT_LT(top[0], 80);
    EXPECT_GT(top[2], top[0]);
    const std::uint8_t *module = pixel(image, 45, 62);
    EXPECT_GT(module[0], 150);
    EXPECT_GT(module[1], 150);
    EXPECT_GT(module[2], 150);
}

TEST(AboutPicture, BuiltInBytesAreTheShippedFile)
{
    const std::vector<std::uint8_t> bytes = shippedPicture();
    const std::span<const unsigned char> builtIn = aboutPictureJpeg();
    ASSERT_EQ(builtIn.size(), bytes.size());
    EXPECT_TRUE(std::equal(builtIn.begin(), builtIn.end(), bytes.begin()));
    const JpegImage image = decodeJpeg(builtIn.data(), builtIn.size());
    EXPECT_EQ(image.status, JpegStatus::Complete);
    EXPECT_EQ(image.width, 65);
    EXPECT_EQ(image.height, 241);
}

TEST(JpegDecoder, RgbaGivesTheSameColoursAndFullAlpha)
{
    const std::vector<std::uint8_t> bytes = shippedPicture();
    const JpegImage rgb = decodeGuarded(bytes, bytes.size());
    const JpegImage rgba = decodeGuarded(bytes, bytes.size(), JpegPixelFormat::Rgba8888);
    ASSERT_EQ(rgba.status, JpegStatus::Complete) << rgba.message;
    EXPECT_EQ(rgba.format, JpegPixelFormat::Rgba8888);
    EXPECT_EQ(rgba.bytesPerLine, 65u * 4);
    ASSERT_EQ(rgba.pixels.size(), 65u * 4 * 241);
    for (int y = 0; y < 241; ++y) {
        for (int x = 0; x < 65; ++x) {
            const std::uint8_t *a = pixel(rgb, x, y);
            const std::uint8_t *b = pixel(rgba, x, y);
            ASSERT_TRUE(a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && b[3] == 255) << x << "," << y;
        }
    }
}

// Every length from 0 to 1023 (the headers and tables), then every 11th
// byte to the end: a cut file either fails or decodes whole and says so.
TEST(JpegDecoder, TruncatedCopiesFailOrDecodePartially)
{
    const std::vector<std::uint8_t> bytes = shippedPicture();
    ASSERT_FALSE(bytes.empty());
    int failed = 0, partial = 0;
    for (std::size_t length = 0; length < bytes.size(); length += length < 1024 ? 1 : 11) {
        const JpegImage image = decodeGuarded(bytes, length);
        expectConsistent(image, "length " + std::to_string(length));
        ASSERT_NE(image.status, JpegStatus::Complete) << "a copy cut to " << length << " bytes passed as whole";
        if (image.status == JpegStatus::Partial) {
            EXPECT_EQ(image.width, 65);
            EXPECT_EQ(image.height, 241);
            ++partial;
        } else {
            ++failed;
        }
    }
    for (const std::size_t length : {bytes.size() - 1, bytes.size() - 2})
        EXPECT_NE(decodeGuarded(bytes, length).status, JpegStatus::Complete) << length;
    // Cut in the headers it fails; cut in the picture data it decodes partially.
    EXPECT_GT(failed, 0);
    EXPECT_GT(partial, 0);
    const JpegImage half = decodeGuarded(bytes, bytes.size() / 2);
    EXPECT_EQ(half.status, JpegStatus::Partial);
    EXPECT_EQ(half.message, "Premature end of JPEG file");
}

TEST(JpegDecoder, CorruptedBytesNeverCrash)
{
    const std::vector<std::uint8_t> original = shippedPicture();
    ASSERT_FALSE(original.empty());
    for (std::size_t at = 0; at < original.size(); at += at < 700 ? 1 : 17) {
        for (const int how : {0, 1, 2}) {
            std::vector<std::uint8_t> bytes = original;
            bytes[at] = how == 0 ? 0x00 : how == 1 ? 0xFF : static_cast<std::uint8_t>(bytes[at] ^ 0x55);
            expectConsistent(decodeGuarded(bytes, bytes.size()),
                             "byte " + std::to_string(at) + " damaged (" + std::to_string(how) + ")");
        }
    }
    std::mt19937 random(20061113);
    for (int round = 0; round < 400; ++round) {
        std::vector<std::uint8_t> bytes = original;
        const int damage = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < damage; ++i)
            bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
        const std::size_t length = round % 2 ? bytes.size() : random() % bytes.size();
        expectConsistent(decodeGuarded(bytes, length), "random round " + std::to_string(round));
    }
}

TEST(JpegDecoder, DamagedPictureDataIsReported)
{
    std::vector<std::uint8_t> bytes = shippedPicture();
    const std::size_t scan = findMarker(bytes, 0xDA);
    ASSERT_LT(scan + 200, bytes.size());
    // A marker in the middle of the picture data.
    bytes[scan + 150] = 0xFF;
    bytes[scan + 151] = 0xD0;
    const JpegImage image = decodeGuarded(bytes, bytes.size());
    EXPECT_EQ(image.status, JpegStatus::Partial);
    EXPECT_FALSE(image.message.empty());
    EXPECT_EQ(image.width, 65);
}

TEST(JpegDecoder, NotAPictureFails)
{
    const std::vector<std::uint8_t> text{'h', 'e', 'l', 'l', 'o'};
    const std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    const std::vector<std::uint8_t> onlyStart{0xFF, 0xD8};
    const std::vector<std::uint8_t> onlyEnds{0xFF, 0xD8, 0xFF, 0xD9};
    for (const auto *bytes : {&text, &png, &onlyStart, &onlyEnds}) {
        const JpegImage image = decodeGuarded(*bytes, bytes->size());
        EXPECT_EQ(image.status, JpegStatus::Failed);
        expectConsistent(image, "not a picture");
    }
    EXPECT_EQ(decodeJpeg(nullptr, 10).status, JpegStatus::Failed);
    const std::uint8_t byte = 0xFF;
    EXPECT_EQ(decodeJpeg(&byte, 0).status, JpegStatus::Failed);
}

TEST(JpegDecoder, OversizedPicturesAreRefusedBeforeDecoding)
{
    const std::vector<std::uint8_t> original = shippedPicture();
    const JpegImage small = decodeJpeg(original.data(), original.size(), JpegPixelFormat::Rgb888, 65 * 241 - 1);
    EXPECT_EQ(small.status, JpegStatus::Failed);
    EXPECT_NE(small.message.find("too large"), std::string::npos) << small.message;

    // A header that claims 65000 x 65000 pixels (about 12 GB as RGB).
    std::vector<std::uint8_t> bytes = original;
    const std::size_t frame = findMarker(bytes, 0xC0);
    ASSERT_LT(frame + 9, bytes.size());
    bytes[frame + 5] = 0xFD;  // height 65000
    bytes[frame + 6] = 0xE8;
    bytes[frame + 7] = 0xFD;  // width 65000
    bytes[frame + 8] = 0xE8;
    const JpegImage huge = decodeGuarded(bytes, bytes.size());
    EXPECT_EQ(huge.status, JpegStatus::Failed);
    EXPECT_TRUE(huge.pixels.empty());
}
