#include "ImageFiles.h"

#include <jpeglib.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testsupport {

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string netpbm(const char *magic, int w, int h, const Bytes &samples, const std::string &comment)
{
    return std::string(magic) + "\n" + comment + std::to_string(w) + " " + std::to_string(h) + "\n255\n" +
           std::string(samples.begin(), samples.end());
}

std::string tga(int w, int h, const Bytes &bgr, const std::string &id, int type, int bits, int descriptor)
{
    std::string head(18, '\0');
    head[0] = char(id.size());
    head[2] = char(type);
    head[12] = char(w & 255), head[13] = char(w >> 8), head[14] = char(h & 255), head[15] = char(h >> 8);
    head[16] = char(bits);
    head[17] = char(descriptor);
    return head + id + std::string(bgr.begin(), bgr.end());
}

std::string withColourMap(std::string file, int first, const Bytes &bgrEntries)
{
    const int length = int(bgrEntries.size() / 3);
    file[1] = 1;
    file[3] = char(first & 255), file[4] = char(first >> 8);
    file[5] = char(length & 255), file[6] = char(length >> 8);
    file[7] = 24;
    return file.insert(18 + static_cast<unsigned char>(file[0]), std::string(bgrEntries.begin(), bgrEntries.end()));
}

void writePngFile(const std::string &path, const PngFile &p)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    if (p.compressionLevel >= 0)
        png_set_compression_level(png, p.compressionLevel);
    png_set_IHDR(png, info, p.width, p.height, p.bitDepth, p.colorType,
                 p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!p.palette.empty())
        png_set_PLTE(png, info, p.palette.data(), int(p.palette.size()));
    if (!p.transparency.empty())
        png_set_tRNS(png, info, p.transparency.data(), int(p.transparency.size()), nullptr);
    std::vector<png_text> texts(p.texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        texts[i] = png_text();
        texts[i].compression = i % 2 ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE;
        texts[i].key = const_cast<char *>(p.texts[i].first.c_str());
        texts[i].text = const_cast<char *>(p.texts[i].second.c_str());
    }
    if (!texts.empty())
        png_set_text(png, info, texts.data(), int(texts.size()));
    png_write_info(png, info);
    const size_t rowBytes = p.rows.size() / p.height;
    std::vector<png_bytep> rows;
    for (int y = 0; y < p.height; ++y)
        rows.push_back(const_cast<png_bytep>(&p.rows[y * rowBytes]));
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

void writeJpegFile(const std::string &path, int w, int h, int components, bool progressive, const Bytes &samples,
                   int quality)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = w;
    c.image_height = h;
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&samples[size_t(c.next_scanline) * w * components]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

void writeTiffFile(const std::string &path, int w, int h, const Bytes &rgb, int compression, bool tiled, int bits,
                   bool onlyFirstStrip)
{
    TIFF *t = TIFFOpen(path.c_str(), "w");
    if (!t)
        return;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    if (tiled) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
        for (int ty = 0; ty < h; ty += 16)
            for (int tx = 0; tx < w; tx += 16) {
                Bytes tile(16 * 16 * 3, 0);
                for (int y = ty; y < std::min(h, ty + 16); ++y)
                    for (int x = tx; x < std::min(w, tx + 16); ++x)
                        std::memcpy(&tile[((y - ty) * 16 + (x - tx)) * 3], &rgb[(y * w + x) * 3], 3);
                TIFFWriteEncodedTile(t, TIFFComputeTile(t, tx, ty, 0, 0), tile.data(), tmsize_t(tile.size()));
            }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 4);
        const size_t rowBytes = size_t(w) * 3 * bits / 8;
        for (int y = 0; y < (onlyFirstStrip ? 4 : h); ++y) {
            Bytes row(rgb.begin() + y * rowBytes, rgb.begin() + (y + 1) * rowBytes);
            TIFFWriteScanline(t, row.data(), y, 0);
        }
    }
    TIFFClose(t);
}

} // namespace testsupport
