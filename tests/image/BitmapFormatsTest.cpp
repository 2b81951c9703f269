// Reading and writing image files: our own round trips, files made by libpng, libjpeg and
// libtiff themselves, memory mapping, streams that can't seek, and broken files.
#include "image/Bitmap.h"
#include "image/ImageCodecs.h"
#include "image/Stream.h"

#include "math/Messages.h"
#include "support/ImageCompare.h"
#include "support/ImageFiles.h"
#include "support/Process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

using testsupport::Bytes;

std::string slurp(const std::string &path) { return testsupport::readFile(path); }
void spit(const std::string &path, const std::string &bytes) { testsupport::writeFile(path, bytes); }

std::string str(const Bytes &b)
{
    return std::string(b.begin(), b.end());
}

// A smooth picture with a little noise: something JPEG handles the way it handles photographs.
Bytes picture(int w, int h, int channels = 3)
{
    Bytes out;
    unsigned seed = 7;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) {
                seed = seed * 1103515245u + 12345u;
                const int v =
                    (x * 255 / std::max(1, w - 1) * (c + 1) + y * 255 / std::max(1, h - 1)) / (c + 2);
                out.push_back(static_cast<unsigned char>(std::min(255, v + int(seed >> 29))));
            }
    return out;
}

Bytes pixelsOf(const Bitmap &b)
{
    const auto *p = reinterpret_cast<const unsigned char *>(b.pixels);
    return p ? Bytes(p, p + size_t(b.width) * b.height * 3) : Bytes();
}

Bytes greyToRgb(const Bytes &grey)
{
    Bytes out;
    for (unsigned char g : grey)
        out.insert(out.end(), {g, g, g});
    return out;
}

// Largest and mean channel difference.
std::pair<int, double> difference(const Bytes &a, const Bytes &b)
{
    int worst = 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int d = std::abs(int(a[i]) - int(b[i]));
        worst = std::max(worst, d);
        sum += d;
    }
    return {worst, a.empty() ? 0 : sum / a.size()};
}

std::string ppm(int w, int h, const Bytes &rgb, const char *magic = "P6") { return testsupport::netpbm(magic, w, h, rgb); }

using testsupport::PngFile;
using testsupport::tga;
using testsupport::withColourMap;

void writeJpegWithLibjpeg(const std::string &path, int w, int h, int components, bool progressive,
                          const Bytes &s)
{
    testsupport::writeJpegFile(path, w, h, components, progressive, s, 95);
}

void writePngWithLibpng(const std::string &path, const PngFile &p) { testsupport::writePngFile(path, p); }

void writeTiffWithLibtiff(const std::string &path, int w, int h, const Bytes &rgb, int compression,
                          bool tiled, int bits = 8, bool onlyFirstStrip = false)
{
    testsupport::writeTiffFile(path, w, h, rgb, compression, tiled, bits, onlyFirstStrip);
}

class BitmapFiles : public ::testing::Test
{
  protected:
    void SetUp() override { dir = testsupport::makeTempDir("BitmapFiles"); }
    std::string at(const std::string &name) const { return dir + "/" + name; }
    std::string dir;
};

TEST_F(BitmapFiles, OwnFormatsRoundTrip)
{
    const int w = 37, h = 23;
    Bytes rgb = picture(w, h);
    Bitmap source(w, h);
    std::memcpy(source.pixels, rgb.data(), rgb.size());

    for (const char *name : {"exact.ppm", "exact.png", "lossy.jpg"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(source.save(at(name).c_str()), 1);
        Bitmap loaded;
        loaded.loadImage(at(name).c_str());
        ASSERT_EQ(loaded.width, w);
        ASSERT_EQ(loaded.height, h);
        if (std::string(name) == "lossy.jpg") {
            const auto d = difference(pixelsOf(loaded), rgb);
            EXPECT_LE(d.first, 24);
            EXPECT_LE(d.second, 3.0);
            EXPECT_EQ(loaded.components, 3);
        } else {
            EXPECT_EQ(pixelsOf(loaded), rgb);
        }
        EXPECT_FALSE(loaded.mapAddress) << "loadImage never maps";
    }
    EXPECT_EQ(slurp(at("exact.ppm")), ppm(w, h, rgb));
    Bitmap fromPath(at("exact.ppm").c_str());
    EXPECT_TRUE(fromPath.mapAddress) << "the path constructor maps PPM files";
    EXPECT_EQ(pixelsOf(fromPath), rgb);

    // Nothing but the three files: no temporary file is left beside them.
    const auto entries = std::distance(std::filesystem::directory_iterator(dir), {});
    EXPECT_EQ(entries, 3);
}

// Sizes from the headers alone (photographs of imported reconstructions): JPEG, PNG and PNM in
// either case of extension; anything else, or a damaged header, leaves it to the decoders.
TEST_F(BitmapFiles, PictureSizesWithoutDecoding)
{
    Bitmap source(37, 23);
    ASSERT_EQ(source.save(at("a.jpg").c_str()), 1);
    ASSERT_EQ(source.save(at("a.png").c_str()), 1);
    ASSERT_EQ(source.save(at("a.ppm").c_str()), 1);
    std::filesystem::copy_file(at("a.jpg"), at("b.JPEG"));
    std::filesystem::copy_file(at("a.png"), at("b.PNG"));
    std::ofstream(at("cut.jpg"), std::ios::binary) << slurp(at("a.jpg")).substr(0, 20);
    std::ofstream(at("cut.png"), std::ios::binary) << slurp(at("a.png")).substr(0, 20);
    std::ofstream(at("text.png"), std::ios::binary) << std::string(40, 'x');
    std::ofstream(at("c.pgm")) << "P2 # made by hand\n# a comment line\n37\n23 255\n";
    std::ofstream(at("bad.ppm")) << "P6 37 #\n";
    const struct {
        const char *name;
        bool known;
    } cases[] = {{"a.jpg", true}, {"a.png", true}, {"b.JPEG", true}, {"b.PNG", true}, {"a.ppm", true}, {"c.pgm", true}, {"bad.ppm", false},
                 {"cut.jpg", false}, {"cut.png", false}, {"text.png", false}, {"missing.jpg", false}};
    for (const auto &c : cases) {
        int w = -1, h = -1;
        EXPECT_EQ(c.known, imagecodecs::imageSize(at(c.name).c_str(), w, h)) << c.name;
        if (c.known) {
            EXPECT_EQ(37, w) << c.name;
            EXPECT_EQ(23, h) << c.name;
        }
    }
}

TEST_F(BitmapFiles, WritersReportFailureAndLeaveNothingBehind)
{
    Bitmap image(4, 4);
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    EXPECT_EQ(image.save(at("x.bmp").c_str()), 0);
    EXPECT_EQ(image.save(at("x.PNG").c_str()), 0);
    EXPECT_EQ(image.save("a.pn"), 0);
    EXPECT_EQ(said.text(MessageLevel::Diagnostic),
              at("x.bmp") + " file format unknown\n" + at("x.PNG") +
                  " file format unknown\na.pn file format unknown\n");

    for (const char *name : {"missing/x.ppm", "missing/x.png", "missing/x.jpg"})
        EXPECT_EQ(image.save(at(name).c_str()), 0) << name;
    // A device that takes no bytes: a writer must notice the lost data.
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(image.savePPM("/dev/full"), 0);
        Bitmap big(512, 512);
        EXPECT_EQ(big.savePNG("/dev/full"), 0);
        EXPECT_EQ(big.saveJPEG("/dev/full", 90), 0);
    }
    Bitmap empty;
    EXPECT_EQ(empty.save(at("empty.png").c_str()), 0);
    EXPECT_EQ(empty.save(at("empty.ppm").c_str()), 0);
    EXPECT_NE(access(at("empty.ppm").c_str(), F_OK), 0);

    // A failed save over an existing file keeps the old file whole.
    ASSERT_EQ(image.save(at("keep.png").c_str()), 1);
    const std::string before = slurp(at("keep.png"));
    EXPECT_EQ(empty.save(at("keep.png").c_str()), 0);
    EXPECT_EQ(slurp(at("keep.png")), before);
}

TEST_F(BitmapFiles, NetpbmCommentsAnywhereInTheHeader)
{
    const Bytes rgb = picture(3, 2);
    const std::string body = "3 # 9 9 9\n#7\n 2\n# 100\n255\n" + str(rgb);
    spit(at("c.ppm"), "P6\n# made by 42 8\n" + body);
    spit(at("tight.ppm"), "P6 3 2 255#c 5\n" + str(rgb));
    Bytes grey = {0, 50, 100, 150, 200, 250};
    spit(at("c.pgm"), "P5 #x 1\n3 2\n#y\n255\n" + str(grey));

    for (auto how : {0, 1, 2}) {
        for (const char *name : {"c.ppm", "tight.ppm"}) {
            SCOPED_TRACE(std::string(name) + " way " + std::to_string(how));
            Bitmap b;
            if (how == 0)
                b.loadImage(at(name).c_str());
            else if (how == 1)
                b.mapImage(at(name).c_str());
            else {
                Stream s(at(name).c_str(), "rb", false);
                b = Bitmap(s, "ppm");
            }
            EXPECT_EQ(b.width, 3);
            EXPECT_EQ(b.height, 2);
            EXPECT_EQ(pixelsOf(b), rgb);
        }
    }
    Bitmap g(at("c.pgm").c_str());
    EXPECT_EQ(pixelsOf(g), greyToRgb(grey));

    // Plain files: decimal samples, comments between them too, any whitespace.
    spit(at("p.ppm"),
         "P3\n# plain\n3 2 255\n0 1 2\t3 4 5 # six to eight\n6 7 8\n\n9 10 11 12 13 14 255 254 0");
    spit(at("p.pgm"), "P2 3 2\n#x\n255 0 50 100\n150 200\r\n250\n");
    const Bytes plain = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 255, 254, 0};
    for (auto how : {0, 1, 2}) {
        SCOPED_TRACE("plain, way " + std::to_string(how));
        Bitmap b;
        if (how == 0)
            b.loadImage(at("p.ppm").c_str());
        else if (how == 1)
            b.mapImage(at("p.ppm").c_str());
        else {
            Stream s(at("p.ppm").c_str(), "rb", false);
            b = Bitmap(s, "ppm");
        }
        EXPECT_FALSE(b.mapAddress) << "text samples can't be mapped";
        EXPECT_EQ(b.width, 3);
        EXPECT_EQ(pixelsOf(b), plain);
    }
    Bitmap pg(at("p.pgm").c_str());
    EXPECT_EQ(pixelsOf(pg), greyToRgb(grey));
}

TEST_F(BitmapFiles, TgaLoadedAsThePictureMappedAsStored)
{
    // Bottom row first, blue, green, red: a picture of (1, 2, 3) (4, 5, 6) over (7, 8, 9)
    // (10, 11, 12).
    const Bytes stored = {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4};
    spit(at("t.tga"), tga(2, 2, stored, "an identification"));
    Bitmap loaded, mapped;
    loaded.loadImage(at("t.tga").c_str());
    mapped.mapImage(at("t.tga").c_str());
    EXPECT_EQ(pixelsOf(loaded), Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(pixelsOf(mapped), stored) << "a mapping points into the file";
    EXPECT_TRUE(mapped.mapAddress);
    EXPECT_FALSE(loaded.mapAddress);

    const Bytes bgr = picture(5, 3);
    spit(at("t.tga"), tga(5, 3, bgr, "an identification"));
    mapped.mapImage(at("t.tga").c_str());

    // Writing into a mapped image changes the image, never the file.
    const std::string file = slurp(at("t.tga"));
    mapped.invert();
    mapped.flipY();
    EXPECT_EQ(mapped.get(0, 2).r, 255 - bgr[0]);
    EXPECT_EQ(slurp(at("t.tga")), file);

    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    mapped.mapTGA(at("t.tga").c_str());
    EXPECT_EQ(said.text(MessageLevel::Note), "je vire les pixels\n");
    EXPECT_EQ(pixelsOf(mapped), bgr);
}

TEST_F(BitmapFiles, TgaVariantsLoadTopRowFirstInRgb)
{
    struct Case {
        const char *what;
        std::string file;
        Bytes rgb;
    };
    const Bytes square = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::vector<Case> cases = {
        {"top-left origin", tga(2, 2, {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}, "", 2, 24, 0x20), square},
        {"top-right origin", tga(2, 2, {6, 5, 4, 3, 2, 1, 12, 11, 10, 9, 8, 7}, "id", 2, 24, 0x30), square},
        {"bottom-right origin", tga(2, 2, {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, "", 2, 24, 0x10), square},
        {"32 bits, alpha dropped",
         tga(2, 2, {9, 8, 7, 0, 12, 11, 10, 50, 3, 2, 1, 128, 6, 5, 4, 255}, "", 2, 32, 8), square},
        {"run-length, a run across rows",
         tga(3, 2, {0x83, 3, 2, 1, 0x01, 6, 5, 4, 9, 8, 7}, "", 10, 24, 0x20),
         {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"colour-mapped, first entry 2",
         withColourMap(tga(2, 2, {4, 2, 3, 2}, "", 1, 8), 2, {30, 20, 10, 60, 50, 40, 90, 80, 70}),
         {40, 50, 60, 10, 20, 30, 70, 80, 90, 10, 20, 30}},
        {"colour-mapped, run-length",
         withColourMap(tga(2, 2, {0x83, 0}, "", 9, 8), 0, {30, 20, 10}),
         {10, 20, 30, 10, 20, 30, 10, 20, 30, 10, 20, 30}},
        {"grey, run-length", tga(2, 2, {0x81, 50, 0x01, 60, 70}, "", 11, 8, 0x20),
         greyToRgb({50, 50, 60, 70})},
        {"colour map skipped beside true colour",
         withColourMap(tga(2, 2, {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}, "", 2, 24, 0x20), 0, {1, 1, 1}),
         square},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        spit(at("v.tga"), c.file);
        Bitmap b;
        b.loadTGA(at("v.tga").c_str());
        EXPECT_EQ(b.width * b.height * 3, int(c.rgb.size()));
        EXPECT_EQ(pixelsOf(b), c.rgb);
    }
}

TEST_F(BitmapFiles, MappedTgaOnlyUncompressedTrueColour)
{
    const Bytes bgr(2 * 2 * 4, 9);
    const std::vector<std::string> variants = {
        tga(2, 2, bgr, "", 10),       // run-length compressed
        tga(2, 2, bgr, "", 1),        // colour-mapped
        tga(2, 2, bgr, "", 2, 32),    // 32 bits a pixel
        tga(2, 2, bgr, "", 2, 24, 8), // alpha bits
    };
    for (const std::string &bytes : variants) {
        spit(at("v.tga"), bytes);
        Bitmap b(1, 1);
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        try {
            b.mapTGA(at("v.tga").c_str());
            ADD_FAILURE() << "mapped a rejected TGA";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), "Can't handle format");
        }
        EXPECT_EQ(said.text(MessageLevel::Error),
                  "version de tga non implementee, dommage\ntga non compresse uniquement\n");
        EXPECT_FALSE(b.pixels);
    }
}

TEST_F(BitmapFiles, RvbWithItsSideFileLoadedOrMapped)
{
    const Bytes rgb = picture(4, 3);
    spit(at("r.rvb"), str(rgb));
    spit(at("r.dim"), "4 3\n");
    Bitmap loaded, mapped;
    loaded.loadImage(at("r.rvb").c_str());
    mapped.mapImage(at("r.rvb").c_str());
    EXPECT_EQ(pixelsOf(loaded), rgb);
    EXPECT_EQ(pixelsOf(mapped), rgb);
    EXPECT_EQ(mapped.unmap(), 0);
    EXPECT_EQ(mapped.width, 0) << "an unmapped image has no pixels left to show";
    EXPECT_FALSE(mapped.pixels);
    EXPECT_EQ(mapped.unmap(), 1);
}

TEST_F(BitmapFiles, ImaSampleTypes)
{
    struct Case {
        const char *type;
        Bytes samples;
        Bytes grey;
    };
    auto floats = [](std::vector<float> v) {
        Bytes b(v.size() * 4);
        std::memcpy(b.data(), v.data(), b.size());
        return b;
    };
    const std::vector<Case> cases = {
        {nullptr, {1, 2, 3, 4}, {1, 2, 3, 4}},
        {"S8", {200, 2, 3, 4}, {200, 2, 3, 4}},
        {"U16", {1, 9, 2, 9, 3, 9, 4, 9}, {1, 2, 3, 4}},
        {"S32", {7, 0, 0, 1, 8, 0, 0, 1, 9, 0, 0, 1, 10, 0, 0, 1}, {7, 8, 9, 10}},
        {"FLOAT", floats({-1, 1, 0, 0.5f}), {0, 255, 127, 191}},
        {"FLOAT", floats({2, 2, 2, 2}), {0, 0, 0, 0}},
        {"FLOAT", floats({NAN, 1, INFINITY, 3}), {0, 0, 255, 255}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type ? c.type : "no type");
        // Two slices: only the first is read.
        Bytes data = c.samples;
        data.insert(data.end(), c.samples.size(), 77);
        spit(at("v.ima"), str(data));
        spit(at("v.dim"),
             std::string("2 2 2\n-dx 1.0\n") + (c.type ? std::string("-type ") + c.type : "") + "\n");
        Bitmap b;
        b.loadImage(at("v.ima").c_str());
        EXPECT_EQ(pixelsOf(b), greyToRgb(c.grey));
    }
    Bitmap fromBase;
    fromBase.loadIMA(at("v").c_str());
    EXPECT_EQ(fromBase.width, 2);
}

TEST_F(BitmapFiles, RawFloatsAsSixteenBitFixedPoint)
{
    const std::vector<float> v = {0.5f, 0, 1, 0.25f, -3, 7, NAN, 0.75f};
    std::string bytes(v.size() * 4, '\0');
    std::memcpy(&bytes[0], v.data(), bytes.size());
    spit(at("f.raw"), bytes);
    Bitmap b;
    b.loadfromfloat(at("f.raw").c_str(), 4, 2);
    const std::vector<RGB<unsigned char>> expected = {{127, 255, 0}, {0, 0, 0},    {255, 255, 0},
                                                      {63, 255, 0},  {0, 0, 0},    {255, 255, 0},
                                                      {0, 0, 0},     {191, 255, 0}};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(b.pixels[i], expected[i]) << "value " << v[i];

    ASSERT_EQ(b.saveasfloat(at("g.raw").c_str()), 1);
    const std::string written = slurp(at("g.raw"));
    ASSERT_EQ(written.size(), 32u);
    float first;
    std::memcpy(&first, written.data(), 4);
    EXPECT_FLOAT_EQ(first, 32767.0f / 65535.0f);
    Bitmap again;
    again.loadfromfloat(at("g.raw").c_str(), 4, 2);
    EXPECT_EQ(pixelsOf(again), pixelsOf(b));

    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    EXPECT_EQ(b.saveasfloat(at("missing/g.raw").c_str()), 0);
    EXPECT_EQ(said.text(MessageLevel::Diagnostic), "can not open file\n");
}

TEST_F(BitmapFiles, JpegFromLibjpegGreyAndProgressive)
{
    const int w = 40, h = 30;
    const Bytes grey = picture(w, h, 1), rgb = picture(w, h);
    writeJpegWithLibjpeg(at("grey.jpg"), w, h, 1, false, grey);
    writeJpegWithLibjpeg(at("prog.jpg"), w, h, 3, true, rgb);

    Bitmap g(at("grey.jpg").c_str());
    EXPECT_EQ(g.components, 1);
    for (int i = 0; i < w * h; ++i)
        ASSERT_TRUE(g.pixels[i].r == g.pixels[i].g && g.pixels[i].g == g.pixels[i].b) << "pixel " << i;
    auto d = difference(pixelsOf(g), greyToRgb(grey));
    EXPECT_LE(d.first, 12);
    EXPECT_LE(d.second, 1.5);

    Bitmap p(at("prog.jpg").c_str());
    EXPECT_EQ(p.components, 3);
    ASSERT_EQ(p.width, w);
    d = difference(pixelsOf(p), rgb);
    EXPECT_LE(d.first, 24);
    EXPECT_LE(d.second, 3.0);
}

// A picture of four coloured quarters, saved as the sensor saw it, with an Exif segment after
// the start marker: the corners of the loaded image show how it was turned.
TEST_F(BitmapFiles, JpegExifOrientationTurnsThePicture)
{
    const int w = 32, h = 16;
    enum Quarter { TL, TR, BL, BR };
    const RGB<unsigned char> colours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    Bytes rgb;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const RGB<unsigned char> &c = colours[(y >= h / 2) * 2 + (x >= w / 2)];
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
        }
    writeJpegWithLibjpeg(at("plain.jpg"), w, h, 3, false, rgb);
    const std::string plain = slurp(at("plain.jpg"));
    // Exif: "Exif\0\0", a TIFF header and a directory of one entry, the Orientation SHORT.
    const auto withExif = [&plain](bool little, unsigned orientation, unsigned directoryOffset = 8) {
        std::string tiff;
        const auto put16 = [&](unsigned v) { tiff += little ? std::string{char(v), char(v >> 8)} : std::string{char(v >> 8), char(v)}; };
        const auto put32 = [&](unsigned v) { little ? (put16(v & 0xffff), put16(v >> 16)) : (put16(v >> 16), put16(v & 0xffff)); };
        tiff += little ? "II" : "MM";
        put16(42);
        put32(directoryOffset);
        put16(1);
        put16(0x0112), put16(3), put32(1), put16(orientation), put16(0);
        put32(0);
        const std::string segment = std::string("Exif\0\0", 6) + tiff;
        const size_t length = segment.size() + 2;
        return plain.substr(0, 2) + "\xff\xe1" + char(length >> 8) + char(length) + segment + plain.substr(2);
    };
    const struct {
        const char *what;
        std::string file;
        int width;
        Quarter topLeft, topRight;
    } cases[] = {
        {"no Exif", plain, w, TL, TR},
        {"1, as stored", withExif(true, 1), w, TL, TR},
        {"2, mirrored", withExif(false, 2), w, TR, TL},
        {"3, half turn", withExif(true, 3), w, BR, BL},
        {"4, flipped", withExif(false, 4), w, BL, BR},
        {"5, transposed", withExif(true, 5), h, TL, BL},
        {"6, quarter clockwise", withExif(false, 6), h, BL, TL},
        {"6, little-endian", withExif(true, 6), h, BL, TL},
        {"7, transverse", withExif(true, 7), h, BR, TR},
        {"8, quarter anticlockwise", withExif(false, 8), h, TR, BR},
        {"9 is no orientation", withExif(true, 9), w, TL, TR},
        {"directory beyond the segment", withExif(true, 6, 4000), w, TL, TR},
        {"directory inside the header", withExif(false, 6, 2), w, TL, TR},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        spit(at("turned.jpg"), c.file);
        Bitmap b(at("turned.jpg").c_str());
        ASSERT_EQ(b.width, c.width);
        ASSERT_EQ(b.height, w + h - c.width);
        int sw = 0, sh = 0;
        ASSERT_TRUE(imagecodecs::imageSize(at("turned.jpg").c_str(), sw, sh));
        EXPECT_EQ(sw, b.width);
        EXPECT_EQ(sh, b.height);
        const auto near = [](const RGB<unsigned char> &a, const RGB<unsigned char> &e) {
            return std::abs(a.r - e.r) < 40 && std::abs(a.g - e.g) < 40 && std::abs(a.b - e.b) < 40;
        };
        EXPECT_TRUE(near(b.pixels[b.width + 1], colours[c.topLeft]));
        EXPECT_TRUE(near(b.pixels[2 * b.width - 2], colours[c.topRight]));
    }
}

TEST_F(BitmapFiles, PngFromLibpngEveryColourType)
{
    // 4-bit palette: indices 0..3 cycle.
    PngFile palette{5, 2, PNG_COLOR_TYPE_PALETTE, 4, {0x01, 0x23, 0x00, 0x12, 0x30, 0x10}};
    palette.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {250, 0, 5}};
    const int indices[] = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1};
    Bytes paletteRgb;
    for (int i : indices)
        paletteRgb.insert(paletteRgb.end(),
                          {palette.palette[i].red, palette.palette[i].green, palette.palette[i].blue});

    // 16-bit RGB, scaled to the nearest 8-bit value.
    const std::vector<int> wide = {0, 0x00ff, 0x7f7f, 0xffff, 0x1234, 0x8080};
    PngFile sixteen{2, 1, PNG_COLOR_TYPE_RGB, 16, {}};
    Bytes sixteenRgb;
    for (int v : wide) {
        sixteen.rows.insert(sixteen.rows.end(),
                            {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)});
        sixteenRgb.push_back(static_cast<unsigned char>(std::lround(v / 257.0)));
    }

    PngFile greyAlpha{3, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {5, 0, 128, 255, 250, 9}};
    PngFile oneBit{10, 1, PNG_COLOR_TYPE_GRAY, 1, {0xA5, 0xC0}};
    const Bytes rgba = picture(6, 5, 4);
    PngFile withAlpha{6, 5, PNG_COLOR_TYPE_RGB_ALPHA, 8, rgba};
    Bytes rgbOfRgba;
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgbOfRgba.insert(rgbOfRgba.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    const Bytes rgb = picture(19, 11);
    PngFile interlaced{19, 11, PNG_COLOR_TYPE_RGB, 8, rgb, true};

    const std::vector<std::pair<PngFile, Bytes>> cases = {
        {palette, paletteRgb},
        {sixteen, sixteenRgb},
        {greyAlpha, greyToRgb({5, 128, 250})},
        {oneBit, greyToRgb({255, 0, 255, 0, 0, 255, 0, 255, 255, 255})},
        {withAlpha, rgbOfRgba},
        {interlaced, rgb},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("colour type " + std::to_string(c.first.colorType) + ", depth " +
                     std::to_string(c.first.bitDepth));
        writePngWithLibpng(at("c.png"), c.first);
        Bitmap b(at("c.png").c_str());
        EXPECT_EQ(b.width, c.first.width);
        EXPECT_EQ(b.height, c.first.height);
        EXPECT_EQ(pixelsOf(b), c.second);
        EXPECT_EQ(b.getNComments(), 0);
    }
}

TEST_F(BitmapFiles, PngTextChunksBecomeComments)
{
    PngFile f{2, 1, PNG_COLOR_TYPE_GRAY, 8, {1, 2}};
    f.texts = {
        {"uv", "0 0 10 0 10 10"}, {"Software", "a compressed text that is long enough"}, {"Title", ""}};
    writePngWithLibpng(at("t.png"), f);
    Bitmap b;
    b.loadPNG(at("t.png").c_str());
    EXPECT_EQ(pixelsOf(b), greyToRgb({1, 2}));
    ASSERT_EQ(b.getNComments(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(b.getComment(i)->getKey(), f.texts[i].first.c_str());
        EXPECT_STREQ(b.getComment(i)->getText(), f.texts[i].second.c_str());
    }
    // A new load replaces the comments with the new file's (none).
    Bitmap(2, 1).savePNG(at("plain.png").c_str());
    b.loadPNG(at("plain.png").c_str());
    EXPECT_EQ(b.getNComments(), 0);
}

TEST_F(BitmapFiles, TiffFromLibtiffStripsAndTiles)
{
    const int w = 37, h = 21;
    const Bytes rgb = picture(w, h);
    writeTiffWithLibtiff(at("lzw.tif"), w, h, rgb, COMPRESSION_LZW, false);
    writeTiffWithLibtiff(at("tiled.tif"), w, h, rgb, COMPRESSION_ADOBE_DEFLATE, true);
    // 12 bits a sample, each 8-bit value widened by repeating its high bits, which scaling
    // back to 8 bits must undo exactly.
    const int w12 = 38;
    const Bytes rgb12 = picture(w12, h);
    Bytes packed;
    for (size_t i = 0; i + 1 < rgb12.size(); i += 2) {
        const unsigned a = rgb12[i] << 4 | rgb12[i] >> 4, b = rgb12[i + 1] << 4 | rgb12[i + 1] >> 4;
        packed.insert(packed.end(), {static_cast<unsigned char>(a >> 4),
                                     static_cast<unsigned char>((a & 15) << 4 | b >> 8), static_cast<unsigned char>(b)});
    }
    writeTiffWithLibtiff(at("twelve.tif"), w12, h, packed, COMPRESSION_LZW, false, 12);
    for (const char *name : {"lzw.tif", "tiled.tif", "twelve.tif"}) {
        const bool twelve = std::string(name) == "twelve.tif";
        Bitmap b(at(name).c_str());
        EXPECT_EQ(b.width, twelve ? w12 : w) << name;
        EXPECT_EQ(pixelsOf(b), twelve ? rgb12 : rgb) << name;
    }
}

// Each stream reader on a pipe, which can't seek or tell its length, as a download gives it.
TEST_F(BitmapFiles, StreamReadersOnAPipe)
{
    const Bytes rgb = picture(12, 9);
    Bitmap source(12, 9);
    std::memcpy(source.pixels, rgb.data(), rgb.size());
    source.savePNG(at("s.png").c_str());
    source.saveJPEG(at("s.jpg").c_str(), 100);
    spit(at("s.ppm"), ppm(12, 9, rgb));
    const Bytes grey = picture(12, 9, 1);
    spit(at("s.pgm"), ppm(12, 9, grey, "P5"));

    for (const char *ext : {"png", "jpg", "ppm", "pgm"}) {
        SCOPED_TRACE(ext);
        const std::string bytes = slurp(at(std::string("s.") + ext));
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        std::thread writer([&bytes, fd = fds[1]] {
            EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
            close(fd);
        });
        FILE *in = fdopen(fds[0], "rb");
        Bitmap b(in, ext);
        writer.join();
        std::fclose(in);
        ASSERT_EQ(b.width, 12);
        if (std::string(ext) == "jpg")
            EXPECT_LE(difference(pixelsOf(b), rgb).first, 24);
        else
            EXPECT_EQ(pixelsOf(b), std::string(ext) == "pgm" ? greyToRgb(grey) : rgb);
    }

    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    EXPECT_THROW(Bitmap(stdin, "tga"), std::runtime_error);
    EXPECT_THROW(Bitmap(stdin, nullptr), std::runtime_error);
    EXPECT_EQ(said.text(MessageLevel::Diagnostic),
              "tga file format unknown\n(null) file format unknown\n");
    Stream closed;
    try {
        Bitmap b(closed, "png");
        ADD_FAILURE();
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Can't read file");
    }
}

TEST_F(BitmapFiles, UnknownExtensions)
{
    spit(at("x.ppm"), ppm(1, 1, {1, 2, 3}));
    for (const std::string &name :
         {std::string("a.pp"), at("x.PPM"), at("xppm"), at("x.ppmx"), at("x.tiff")}) {
        Bitmap b(1, 1);
        CapturingMessageSink said;
        ScopedMessageSink scope(said);
        EXPECT_THROW(b.loadImage(name.c_str()), std::runtime_error) << name;
        EXPECT_EQ(said.text(MessageLevel::Diagnostic), name + " file format unknown\n");
        EXPECT_EQ(b.width, 0);
        said.clear();
        EXPECT_THROW(b.mapImage(name.c_str()), std::runtime_error);
        EXPECT_EQ(said.text(MessageLevel::Diagnostic),
                  name.substr(name.size() - 3) + " file format unknown\n");
    }
}

// Broken files: each raises its text, and the image that tried to read it is left empty.
TEST_F(BitmapFiles, BrokenFilesRaiseTheirTextAndLeaveTheImageEmpty)
{
    const Bytes rgb = picture(16, 16);
    Bitmap source(16, 16);
    std::memcpy(source.pixels, rgb.data(), rgb.size());
    source.savePNG(at("good.png").c_str());
    const std::string png = slurp(at("good.png"));
    writeJpegWithLibjpeg(at("good.jpg"), 16, 16, 3, false, rgb);
    const std::string jpg = slurp(at("good.jpg"));
    writeJpegWithLibjpeg(at("prog.jpg"), 16, 16, 3, true, rgb);
    const std::string prog = slurp(at("prog.jpg"));
    writeTiffWithLibtiff(at("good.tif"), 16, 16, rgb, COMPRESSION_NONE, false);
    const std::string tif = slurp(at("good.tif"));
    writeTiffWithLibtiff(at("twelve.tif"), 4, 8, Bytes(4 * 8 * 3 * 3 / 2), COMPRESSION_NONE, false, 12, true);
    writeTiffWithLibtiff(at("holes.tif"), 16, 16, rgb, COMPRESSION_NONE, false, 8, true);

    // PNG header fields changed, with a valid CRC so that only the values are wrong.
    auto pngSized = [&png](unsigned w, unsigned h) {
        std::string s = png;
        for (int i = 0; i < 4; ++i) {
            s[16 + i] = char(w >> (24 - 8 * i));
            s[20 + i] = char(h >> (24 - 8 * i));
        }
        const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(&s[12]), 17);
        for (int i = 0; i < 4; ++i)
            s[29 + i] = char(crc >> (24 - 8 * i));
        return s;
    };
    // JPEG frame header (SOF0) sizes changed.
    auto jpgSized = [&jpg](int w, int h) {
        std::string s = jpg;
        const size_t sof = s.find("\xff\xc0");
        s[sof + 5] = char(h >> 8), s[sof + 6] = char(h), s[sof + 7] = char(w >> 8), s[sof + 8] = char(w);
        return s;
    };

    using Read = std::function<void(Bitmap &, const std::string &)>;
    const Read load = [](Bitmap &b, const std::string &p) { b.loadImage(p.c_str()); };
    const Read map = [](Bitmap &b, const std::string &p) { b.mapImage(p.c_str()); };
    const Read stream = [](Bitmap &b, const std::string &p) {
        FILE *f = std::fopen(p.c_str(), "rb");
        const std::string ext = p.substr(p.size() - 3);
        try {
            ext == "ppm"   ? b.loadPPM(f)
            : ext == "pgm" ? b.loadPGM(f)
            : ext == "jpg" ? b.loadJPG(f)
                           : b.loadPNG(f);
        } catch (...) {
            std::fclose(f);
            throw;
        }
        std::fclose(f);
    };
    const Read rawFloat = [](Bitmap &b, const std::string &p) { b.loadfromfloat(p.c_str(), 4, 4); };

    struct Case {
        const char *what;
        std::string name, bytes, dim;
        Read read;
        const char *message;
    };
    const std::string head = "P6\n4 4\n255\n";
    const std::vector<Case> cases = {
        {"missing PPM", "none.ppm", "", "", load, "Can't read file"},
        // A text chunk whose length claims 2 GB after a valid header: refused without libpng
        // asking for the 2 GB first (the fuzz smoke replays this with a memory limit).
        {"PNG text chunk claiming 2 GB", "a.png", png.substr(0, 33) + std::string("\x7f\xff\xff\xffzTXtab", 10), "",
         load, "file too short"},
        {"empty PPM", "a.ppm", "", "", load, "not a ppm file!"},
        {"bitmap PBM as PPM", "a.ppm", "P1\n1 1\n1\n", "", load, "not a ppm file!"},
        {"plain PGM as PPM", "a.ppm", "P2\n1 1\n255\n0\n", "", map, "not a ppm file!"},
        {"plain sample above the maximum", "a.ppm", "P3\n1 1\n255\n0 256 0\n", "", load,
         "sample above the maximum value"},
        {"plain sample huge", "a.pgm", "P2 1 1 255 99999999999999999999999", "", load,
         "sample above the maximum value"},
        {"plain sample not a number", "a.ppm", "P3 1 1 255 1 x 3", "", stream, "bad sample value"},
        {"plain sample run into a word", "a.pgm", "P2 2 1 255 1 2x", "", stream, "bad sample value"},
        {"plain samples cut short", "a.pgm", "P2 2 2 255\n1 2 3", "", load, "file too short"},
        {"plain samples cut short, mapped", "a.ppm", "P3 1 1 255\n1 2 # 3", "", map, "file too short"},
        {"plain 16-bit", "a.ppm", "P3 1 1 65535 1 2 3", "", map, "maximum value is not 255"},
        {"PGM as PPM", "a.ppm", "P5\n1 1\n255\n\1", "", stream, "not a ppm file!"},
        {"PPM as PGM", "a.pgm", "P6\n1 1\n255\n\1\1\1", "", load, "not a pgm file!"},
        {"header cut short", "a.ppm", "P6\n4 4", "", load, "file too short"},
        {"pixels cut short", "a.ppm", head + std::string(47, 'x'), "", load, "file too short"},
        {"pixels cut short, mapped", "a.ppm", head + std::string(47, 'x'), "", map, "file too short"},
        {"pixels cut short, PGM stream", "a.pgm", "P5 4 4 255\n" + std::string(15, 'x'), "", stream,
         "file too short"},
        {"size beyond the file", "a.ppm", "P6\n4000 4000\n255\n" + std::string(99, 'x'), "", load,
         "file too short"},
        {"size beyond the file, mapped", "a.ppm", "P6\n4000 4000\n255\n" + std::string(99, 'x'), "", map,
         "file too short"},
        {"zero width", "a.ppm", "P6\n0 4\n255\n", "", load, "image size out of range"},
        {"negative width", "a.ppm", "P6\n-4 4\n255\n", "", map, "not a ppm file!"},
        {"size beyond any image", "a.ppm", "P6\n99999999 99999999\n255\n", "", load,
         "image size out of range"},
        // Each side fits a long long, their product doesn't.
        {"size product beyond long long", "a.ppm", "P6\n66666666666 666666666\n255\n", "", load,
         "image size out of range"},
        {"size product beyond long long, mapped", "a.ppm", "P6\n66666666666 666666666\n255\n", "", map,
         "image size out of range"},
        {"size product beyond long long, plain", "a.pgm", "P2\n666666666 66666666666\n255\n", "", stream,
         "image size out of range"},
        {"16-bit PPM", "a.ppm", "P6\n1 1\n65535\n\0\0\0\0\0\0", "", load, "maximum value is not 255"},
        {"15-level PGM", "a.pgm", "P5\n1 1\n15\n\0", "", map, "maximum value is not 255"},
        {"empty mapped PPM", "a.ppm", "", "", map, "not a ppm file!"},
        {"TGA header cut short", "a.tga", tga(2, 2, {}).substr(0, 10), "", load, "file too short"},
        {"TGA pixels cut short", "a.tga", tga(2, 2, Bytes(11)), "", load, "file too short"},
        {"TGA pixels cut short, mapped", "a.tga", tga(2, 2, Bytes(11)), "", map, "file too short"},
        {"TGA identification cut short", "a.tga", tga(2, 2, {}, "abcde").substr(0, 20), "", load,
         "file too short"},
        {"TGA of zero width", "a.tga", tga(0, 2, {}), "", map, "image size out of range"},
        {"TGA of zero height", "a.tga", tga(2, 0, {}, "", 10), "", load, "image size out of range"},
        {"TGA colour-mapped without a map", "a.tga", tga(2, 2, Bytes(4), "", 1, 8), "", load,
         "Can't handle format"},
        {"TGA of 16 bits", "a.tga", tga(2, 2, Bytes(8), "", 2, 16), "", load, "Can't handle format"},
        {"TGA interleaved", "a.tga", tga(2, 2, Bytes(12), "", 2, 24, 0x40), "", load, "Can't handle format"},
        {"TGA colour index beyond the map", "a.tga",
         withColourMap(tga(2, 2, {1, 2, 3, 0}, "", 1, 8), 1, Bytes(9)), "", load,
         "colour index beyond the colour map"},
        {"TGA colour map of no entries", "a.tga", withColourMap(tga(2, 2, {0, 0, 0, 0}, "", 1, 8), 0, {}), "",
         load, "colour index beyond the colour map"},
        {"TGA colour map cut short", "a.tga",
         withColourMap(tga(2, 2, {}, "", 1, 8), 0, Bytes(9)).substr(0, 24), "", load, "file too short"},
        {"TGA run cut short", "a.tga", tga(2, 2, {0x83, 1, 2}, "", 10), "", load, "file too short"},
        {"TGA runs end early", "a.tga", tga(2, 2, {0x82, 1, 2, 3}, "", 10), "", load, "file too short"},
        {"RVB without .dim", "a.rvb", std::string(12, 'x'), "", load, "Can't read file"},
        {"RVB .dim without sizes", "a.rvb", std::string(12, 'x'), "two by two", map, "bad .dim file"},
        {"RVB negative size", "a.rvb", std::string(12, 'x'), "-2 2", load, "image size out of range"},
        {"RVB sizes beyond int", "a.rvb", std::string(12, 'x'), "99999999999 0x7fffffffffff", map,
         "image size out of range"},
        {"RVB cut short", "a.rvb", std::string(11, 'x'), "2 2", load, "file too short"},
        {"RVB cut short, mapped", "a.rvb", std::string(11, 'x'), "2 2", map, "file too short"},
        {"IMA without .dim", "a.ima", std::string(4, 'x'), "", load, "can't read file"},
        {"IMA unknown type", "a.ima", std::string(4, 'x'), "2 2 1\n-type RGB\n", load, "format unknown"},
        {"IMA zero size", "a.ima", std::string(4, 'x'), "0 2 1\n", load, "image size out of range"},
        {"IMA sizes beyond int", "a.ima", std::string(4, 'x'), "4294967297 4294967297 1\n", load,
         "image size out of range"},
        {"IMA cut short", "a.ima", std::string(7, 'x'), "2 2 1\n-type U16\n", load, "file too short"},
        {"raw float missing", "none.raw", "", "", rawFloat, "error in reading file"},
        {"raw float cut short", "a.raw", std::string(63, 'x'), "", rawFloat, "file too short"},
        {"empty JPEG", "a.jpg", "", "", load, "Empty input file"},
        {"PPM named .jpg", "a.jpg", "P6\n1 1\n255\n", "", stream, "Not a JPEG file: starts with 0x50 0x36"},
        {"JPEG cut in its header", "a.jpg", jpg.substr(0, 100), "", load, "Premature end of JPEG file"},
        {"JPEG cut in its data", "a.jpg", jpg.substr(0, jpg.size() * 2 / 3), "", stream,
         "Premature end of JPEG file"},
        {"progressive JPEG cut", "a.jpg", prog.substr(0, prog.size() * 2 / 3), "", load,
         "Premature end of JPEG file"},
        {"JPEG larger than its data", "a.jpg", jpgSized(4000, 3000), "", load,
         "Corrupt JPEG data: premature end of data segment"},
        {"JPEG beyond any image", "a.jpg", jpgSized(65000, 65000), "", load, "image size out of range"},
        {"JPEG of zero height", "a.jpg", jpgSized(16, 0), "", load, "Empty JPEG image (DNL not supported)"},
        {"empty PNG", "a.png", "", "", load, "not an png format"},
        {"not a PNG", "a.png", "\x89PNX\r\n\x1a\n", "", stream, "not an png format"},
        {"PNG cut in its header", "a.png", png.substr(0, 20), "", load, "file too short"},
        {"PNG cut in its data", "a.png", png.substr(0, png.size() - 40), "", stream, "file too short"},
        {"PNG larger than its data", "a.png", pngSized(3000, 3000), "", load, "Not enough image data"},
        {"PNG beyond any image", "a.png", pngSized(100000, 100000), "", load, "image size out of range"},
        {"PNG of zero width", "a.png", pngSized(0, 16), "", load, "Invalid IHDR data"},
        {"not a TIFF", "a.tif", "II*\0garbage", "", load, "Can't read file"},
        {"TIFF cut short", "a.tif", tif.substr(0, tif.size() / 2), "", load, "Can't read file"},
        {"TIFF with unwritten strips", "a.tif", slurp(at("holes.tif")), "", load, "Can't handle format"},
        {"12-bit TIFF with unwritten strips", "a.tif", slurp(at("twelve.tif")), "", load, "Can't handle format"},
        {"PAM magic with more", "a.pam", "P7 RGB\nENDHDR\n", "", load, "not a PAM header"},
        {"PAM without ENDHDR", "a.pam", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n", "", load,
         "PAM header ends before ENDHDR"},
        {"PAM without DEPTH", "a.pam", "P7\nWIDTH 1\nHEIGHT 1\nMAXVAL 255\nENDHDR\n\1\2\3", "", map,
         "PAM header lacks WIDTH, HEIGHT, DEPTH or MAXVAL"},
        {"PAM of depth 5", "a.pam", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n12345", "", load,
         "PAM depth is not 1 to 4 (grey or colour, with or without alpha)"},
        {"PAM width not a number", "a.pam", "P7\nWIDTH 1x\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nENDHDR\n1", "", load,
         "PAM header: WIDTH is not a whole number"},
        {"PAM size beyond the file", "a.pam",
         "P7\nWIDTH 4000\nHEIGHT 4000\nDEPTH 4\nMAXVAL 65535\nENDHDR\n" + std::string(99, 'x'), "", load,
         "file too short"},
        {"PAM beyond any image", "a.pam", "P7\nWIDTH 99999999\nHEIGHT 99999999\nDEPTH 1\nMAXVAL 255\nENDHDR\n", "",
         load, "image size out of range"},
        {"PAM sample above the maximum", "a.pam", "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 15\nENDHDR\n\x0f\x10", "",
         load, "sample above the maximum value"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = at(c.name);
        unlink(path.c_str());
        if (c.name.rfind("none", 0) != 0)
            spit(path, c.bytes);
        const std::string dim = at(c.name.substr(0, c.name.size() - 4) + ".dim");
        unlink(dim.c_str());
        if (!c.dim.empty())
            spit(dim, c.dim);

        Bitmap image(3, 3);
        try {
            c.read(image, path);
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error &e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(image.width, 0);
        EXPECT_EQ(image.height, 0);
        EXPECT_FALSE(image.pixels);
        EXPECT_FALSE(image.mapAddress);
    }
}

TEST_F(BitmapFiles, FailedMappingNamesItsCause)
{
    // A directory opens but can't be mapped.
    ASSERT_EQ(mkdir(at("d.rvb").c_str(), 0755), 0);
    spit(at("d.dim"), "1 1");
    struct stat st;
    ASSERT_EQ(stat(at("d.rvb").c_str(), &st), 0);
    if (st.st_size < 3)
        GTEST_SKIP() << "this file system gives directories no size";
    Bitmap b;
    CapturingMessageSink said;
    ScopedMessageSink scope(said);
    try {
        b.mapImage(at("d.rvb").c_str());
        ADD_FAILURE();
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "error");
    }
    EXPECT_EQ(said.text(MessageLevel::Diagnostic), "\nmmap: ENODEV");
}

// ImageMagick's own binary. A "convert" found first on the search path may be something else,
// so only Debian's paths count, and the program must say it is ImageMagick.
std::string imageMagickConvert()
{
    for (const char *path : {"/usr/bin/convert-im6.q16", "/usr/bin/convert"}) {
        if (access(path, X_OK) != 0)
            continue;
        const auto r = testsupport::runProcess({path, "-version"});
        if (r.exitStatus == 0 && r.out.find("ImageMagick") != std::string::npos)
            return path;
    }
    return "";
}

// Files written by ImageMagick from one picture, each read by Bitmap and by ImageMagick
// itself: the pixels must agree. ImageMagick gives its samples at 16 bits, which the 8-bit
// image holds rounded to the nearest value (its own "-depth 8" truncates instead).
TEST_F(BitmapFiles, FilesWrittenByImageMagickReadAsImageMagickReadsThem)
{
    const std::string convert = imageMagickConvert();
    if (convert.empty())
        GTEST_SKIP() << "ImageMagick's convert (Debian package imagemagick) is not installed";
    const int w = 23, h = 13;
    Bitmap source(w, h);
    const Bytes rgb = picture(w, h);
    std::memcpy(source.pixels, rgb.data(), rgb.size());
    ASSERT_EQ(source.savePPM(at("source.ppm").c_str()), 1);

    // Half the picture transparent, a quarter fully: the colours under it must survive.
    const std::vector<std::string> alpha = {"-alpha",  "set", "-channel", "A", "-fx", "i<8?0:(j<6?0.5:1)",
                                            "+channel"};
    struct Case {
        std::vector<std::string> options; // between the source and the output file
        std::string file;
        std::vector<std::pair<size_t, int>> header; // bytes the file must hold: its variant
        std::string chunk;                          // a text the file must hold
    };
    // PNG: bit depth at byte 24, colour type at 25, interlacing at 28. TGA: image type at
    // byte 2, bits a pixel at 16, descriptor at 17 (0x20: top row first).
    const auto grey = [](int bits) {
        return std::vector<std::string>{"-colorspace", "Gray",
                                        "-define",     "png:color-type=0",
                                        "-define",     "png:bit-depth=" + std::to_string(bits)};
    };
    std::vector<std::string> palettePng = alpha;
    palettePng.insert(palettePng.end(), {"-colors", "40"});
    std::vector<std::string> rgba16 = alpha;
    rgba16.push_back("-depth");
    rgba16.push_back("16");
    std::vector<std::string> greyAlpha = {"-colorspace", "Gray", "-define", "png:color-type=4"};
    greyAlpha.insert(greyAlpha.begin(), alpha.begin(), alpha.end());
    std::vector<std::string> tga32 = alpha;
    tga32.insert(tga32.end(), {"-type", "TrueColorAlpha"});
    const std::vector<Case> cases = {
        {palettePng, "PNG8:pal.png", {{24, 8}, {25, 3}}, "tRNS"},
        {{"-colors", "12", "-define", "png:bit-depth=4", "-define", "png:color-type=3"},
         "pal4.png",
         {{24, 4}, {25, 3}},
         ""},
        {grey(1), "grey1.png", {{24, 1}, {25, 0}}, ""},
        {grey(2), "grey2.png", {{24, 2}, {25, 0}}, ""},
        {grey(4), "grey4.png", {{24, 4}, {25, 0}}, ""},
        {grey(8), "grey8.png", {{24, 8}, {25, 0}}, ""},
        {grey(16), "grey16.png", {{24, 16}, {25, 0}}, ""},
        {greyAlpha, "greyalpha.png", {{25, 4}}, ""},
        {{"-depth", "16"}, "PNG48:rgb16.png", {{24, 16}, {25, 2}}, ""},
        {rgba16, "PNG64:rgba16.png", {{24, 16}, {25, 6}}, ""},
        {{"-interlace", "PNG"}, "PNG24:adam7.png", {{25, 2}, {28, 1}}, ""},
        {{"-type", "TrueColor"}, "bottomleft.tga", {{2, 2}, {16, 24}, {17, 0}}, ""},
        {{"-type", "TrueColor", "-orient", "TopLeft"}, "topleft.tga", {{2, 2}, {16, 24}, {17, 0x20}}, ""},
        {{"-type", "TrueColor", "-compress", "RLE"}, "rle.tga", {{2, 10}, {16, 24}}, ""},
        {tga32, "alpha.tga", {{2, 2}, {16, 32}}, ""},
        {{"-colors", "20", "-type", "Palette"}, "palette.tga", {{1, 1}, {2, 1}}, ""},
        {{"-colorspace", "Gray", "-compress", "RLE"}, "grey.tga", {{2, 11}, {16, 8}}, ""},
        {{"-depth", "8", "-compress", "none"}, "plain.ppm", {{0, 'P'}, {1, '3'}}, ""},
        {{"-colorspace", "Gray", "-depth", "8", "-compress", "none"}, "plain.pgm", {{0, 'P'}, {1, '2'}}, ""},
        {{"-depth", "8"}, "rgb.pam", {{0, 'P'}, {1, '7'}}, "TUPLTYPE RGB\n"},
        {{"-colorspace", "Gray", "-depth", "8"}, "grey.pam", {{0, 'P'}, {1, '7'}}, "TUPLTYPE GRAYSCALE\n"},
        {rgba16, "rgba16.pam", {{0, 'P'}, {1, '7'}}, "MAXVAL 65535\nTUPLTYPE RGB_ALPHA\n"},
    };
    for (const Case &c : cases) {
        const std::string name = c.file.substr(c.file.find(':') + 1);
        SCOPED_TRACE(name);
        std::vector<std::string> make = {convert, at("source.ppm")};
        make.insert(make.end(), c.options.begin(), c.options.end());
        make.push_back(c.file.find(':') == std::string::npos
                           ? at(c.file)
                           : c.file.substr(0, c.file.find(':') + 1) + at(name));
        const auto made = testsupport::runProcess(make);
        ASSERT_EQ(made.exitStatus, 0) << made.err;
        const std::string bytes = slurp(at(name));
        for (const auto &field : c.header)
            ASSERT_EQ(static_cast<unsigned char>(bytes.at(field.first)), field.second)
                << "ImageMagick wrote another variant than the one meant (byte " << field.first << ")";
        ASSERT_TRUE(c.chunk.empty() || bytes.find(c.chunk) != std::string::npos) << "no " << c.chunk;

        // ImageMagick keeps a TGA's rows as stored and notes the origin as the image's
        // orientation; -auto-orient applies it, which gives the picture the file describes.
        const auto theirs = testsupport::runProcess(
            {convert, at(name), "-auto-orient", "-depth", "16", "-endian", "LSB", "rgb:-"});
        ASSERT_EQ(theirs.exitStatus, 0) << theirs.err;
        ASSERT_EQ(theirs.out.size(), size_t(w) * h * 6);
        Bytes expected(size_t(w) * h * 3);
        for (size_t i = 0; i < expected.size(); ++i) {
            const int sample = static_cast<unsigned char>(theirs.out[2 * i]) |
                               static_cast<unsigned char>(theirs.out[2 * i + 1]) << 8;
            expected[i] = static_cast<unsigned char>((sample + 128) / 257);
        }

        Bitmap ours;
        ours.loadImage(at(name).c_str());
        ASSERT_EQ(ours.width, w);
        ASSERT_EQ(ours.height, h);
        const Bytes got = pixelsOf(ours);
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(int(got[i]), int(expected[i]))
                << "pixel " << i / 3 % w << ", " << i / 3 / w << " channel " << i % 3;
    }
}

} // namespace
