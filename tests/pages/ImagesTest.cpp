// The built-in pictures, the site icon and the message icon JPEGs, fetched over HTTP and decoded
// by real decoders.

#include "ControlPageTestSupport.h"

#include "resources/EmbeddedResources.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>

namespace pelotest::test {
namespace {

struct DecodedGif {
    std::string error;
    int width = 0, height = 0, images = 0;
    int transparentIndex = -1; // -1 when the picture has no transparent colour
    int cornerIndex = -1;      // colour index of the top-left pixel
    std::string version;
};

DecodedGif decodeGif(const std::string& bytes) {
    struct Reader {
        const std::string* bytes;
        std::size_t offset = 0;
    } reader{&bytes};
    DecodedGif out;
    int error = 0;
    GifFileType* gif = DGifOpen(
        &reader,
        [](GifFileType* file, GifByteType* buffer, int size) {
            auto* r = static_cast<Reader*>(file->UserData);
            const int n =
                static_cast<int>(std::min<std::size_t>(size, r->bytes->size() - r->offset));
            std::memcpy(buffer, r->bytes->data() + r->offset, n);
            r->offset += n;
            return n;
        },
        &error);
    if (gif == nullptr) {
        out.error = GifErrorString(error);
        return out;
    }
    if (DGifSlurp(gif) != GIF_OK) {
        out.error = GifErrorString(gif->Error);
    } else {
        out.width = gif->SWidth;
        out.height = gif->SHeight;
        out.images = gif->ImageCount;
        out.version = DGifGetGifVersion(gif);
        GraphicsControlBlock control;
        if (gif->ImageCount > 0 && DGifSavedExtensionToGCB(gif, 0, &control) == GIF_OK)
            out.transparentIndex = control.TransparentColor;
        if (gif->ImageCount > 0)
            out.cornerIndex = gif->SavedImages[0].RasterBits[0];
    }
    DGifCloseFile(gif, &error);
    return out;
}

TEST(Images, ServesEveryBuiltInPictureAsATransparentGif) {
    struct Case {
        const char* path;
        int width, height;
    };
    const Case cases[] = {
        {"/$int/Img3.gif", 16, 16},    {"/$int/Img5.gif", 16, 16},     {"/$int/Img6.gif", 16, 16},
        {"/$int/Img7.gif", 16, 16},    {"/$int/Img8.gif", 16, 16},     {"/$int/rel.gif", 16, 16},
        {"/$int/blank.gif", 1, 1},     {"/$int/save.gif", 16, 16},     {"/$int/abort.gif", 16, 16},
        {"/$int/yes.gif", 16, 16},     {"/$int/back.gif", 14, 14},     {"/$int/log.gif", 16, 16},
        {"/$int/run.gif", 14, 14},     {"/$int/folder.gif", 16, 16},   {"/$int/info.gif", 11, 11},
        {"/$int/banner.gif", 120, 60}, {"/$int/pelorin.gif", 120, 52},
    };
    PagesServer s;
    std::vector<std::string> bodies;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const HttpResult result = httpGet(s.port(), c.path);
        EXPECT_EQ(result.status, 200);
        EXPECT_EQ(result.header("Content-Type"), "image/gif");
        const DecodedGif gif = decodeGif(result.body);
        ASSERT_EQ(gif.error, "");
        EXPECT_EQ(result.body.substr(0, 6), "GIF89a");
        EXPECT_EQ(gif.width, c.width);
        EXPECT_EQ(gif.height, c.height);
        EXPECT_EQ(gif.images, 1);
        // Transparent background: the corner pixel is the transparent colour.
        EXPECT_GE(gif.transparentIndex, 0);
        EXPECT_EQ(gif.cornerIndex, gif.transparentIndex);
        bodies.push_back(result.body);
    }
    // Seventeen different pictures, not one picture under many names.
    std::sort(bodies.begin(), bodies.end());
    EXPECT_EQ(std::unique(bodies.begin(), bodies.end()), bodies.end());
}

TEST(Images, MatchesPicturePathsExactly) {
    PagesServer s;
    // Only the five icon numbers exist, and letter case counts.
    for (const char* path : {"/$int/Img4.gif", "/$int/img3.gif", "/$int/IMG5.gif", "/$int/REL.gif",
                             "/$INT/rel.gif", "/$int/Img3.GIF", "/$int/favicon.gif"}) {
        const HttpResult result = httpGet(s.port(), path);
        EXPECT_NE(result.header("Content-Type"), "image/gif") << path;
    }
}

struct IconEntry {
    int width, height, colours, bitCount;
    std::uint32_t size, offset;
};

std::vector<IconEntry> iconDirectory(const std::string& bytes) {
    const auto u16 = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) |
                                     static_cast<unsigned char>(bytes[at + 1]) << 8);
    };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    std::vector<IconEntry> entries;
    if (bytes.size() < 6 || u16(0) != 0 || u16(2) != 1)
        return entries;
    for (unsigned i = 0; i < u16(4) && 6 + 16 * (i + 1) <= bytes.size(); ++i) {
        const std::size_t at = 6 + 16 * i;
        const IconEntry e{static_cast<unsigned char>(bytes[at]),
                          static_cast<unsigned char>(bytes[at + 1]),
                          static_cast<unsigned char>(bytes[at + 2]),
                          static_cast<int>(u16(at + 6)),
                          u32(at + 8),
                          u32(at + 12)};
        // Each image is a bitmap header of its own size and depth, with an AND mask.
        if (e.offset + 40 > bytes.size() || e.offset + e.size > bytes.size())
            return {};
        if (u32(e.offset) != 40 || static_cast<int>(u32(e.offset + 4)) != e.width ||
            static_cast<int>(u32(e.offset + 8)) != 2 * e.height ||
            static_cast<int>(u16(e.offset + 14)) != e.bitCount)
            return {};
        const int stride = ((e.width * e.bitCount + 31) / 32) * 4;
        const int maskStride = ((e.width + 31) / 32) * 4;
        if (e.size !=
            40 + 4u * (1u << e.bitCount) + static_cast<unsigned>((stride + maskStride) * e.height))
            return {};
        entries.push_back(e);
    }
    return entries;
}

TEST(Images, ServesTheBuiltInSiteIconOnlyWhenTheStaticFolderHasNone) {
    PagesServer s;
    const resources::Resource* icon = resources::find("favicon.ico");
    ASSERT_NE(icon, nullptr);
    const std::string builtIn(reinterpret_cast<const char*>(icon->bytes.data()),
                              icon->bytes.size());

    // Six images: 16, 32 and 48 pixels, each in 16 and in 256 colours.
    std::vector<std::tuple<int, int, int>> found;
    for (const IconEntry& e : iconDirectory(builtIn))
        found.emplace_back(e.width, e.height, e.bitCount);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found,
              (std::vector<std::tuple<int, int, int>>{
                  {16, 16, 4}, {16, 16, 8}, {32, 32, 4}, {32, 32, 8}, {48, 48, 4}, {48, 48, 8}}));

    // The end of the path is all that counts, so a subfolder gets the icon too.
    for (const char* path : {"/favicon.ico", "/sub/favicon.ico", "/$int/favicon.ico"}) {
        const HttpResult result = httpGet(s.port(), path);
        EXPECT_EQ(result.status, 200) << path;
        EXPECT_EQ(result.header("Content-Type"), "image/x-icon") << path;
        EXPECT_TRUE(result.body == builtIn) << path;
    }
    EXPECT_NE(httpGet(s.port(), "/Favicon.ico").body, builtIn);

    // With a site icon of its own, the static folder's file is served instead, and a request
    // that names a subfolder without one gets no icon at all.
    s.dir.write("static/favicon.ico", "own icon");
    const HttpResult own = httpGet(s.port(), "/favicon.ico");
    EXPECT_EQ(own.status, 200);
    EXPECT_EQ(own.body, "own icon");
    EXPECT_NE(httpGet(s.port(), "/sub/favicon.ico").body, builtIn);
}

struct DecodedJpeg {
    bool ok = false;
    int width = 0, height = 0, components = 0;
    bool progressive = true;
    J_COLOR_SPACE colourSpace = JCS_UNKNOWN;
    int firstLuminanceQuant = 0;
    std::vector<unsigned char> rgb;
};

struct JpegError {
    jpeg_error_mgr base;
    std::jmp_buf escape;
};

// Decodes into out (no object with a destructor lives across the setjmp).
void decodeJpeg(const std::string& bytes, DecodedJpeg& out) {
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = [](j_common_ptr c) {
        std::longjmp(reinterpret_cast<JpegError*>(c->err)->escape, 1);
    };
    if (setjmp(error.escape)) {
        jpeg_destroy_decompress(&info);
        out.ok = false;
        return;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    out.progressive = info.progressive_mode;
    out.colourSpace = info.jpeg_color_space;
    out.components = info.num_components;
    if (info.quant_tbl_ptrs[0] != nullptr)
        out.firstLuminanceQuant = info.quant_tbl_ptrs[0]->quantval[0];
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = info.output_width;
    out.height = info.output_height;
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + info.output_scanline * out.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    out.ok = true;
}

TEST(Images, RendersTheMessageIconsAsJpeg) {
    struct Case {
        const char* path;
        Rgb colour; // the test host's colour of that icon
    };
    const Case cases[] = {{"/$int/warning.jpg", {0xF0, 0xC0, 0x00}},
                          {"/$int/error.jpg", {0xD0, 0x10, 0x10}},
                          {"/$int/information.jpg", {0x10, 0x40, 0xD0}}};
    PagesServer s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const HttpResult result = httpGet(s.port(), c.path);
        EXPECT_EQ(result.status, 200);
        EXPECT_EQ(result.header("Content-Type"), "image/jpeg");
        DecodedJpeg jpeg;
        decodeJpeg(result.body, jpeg);
        ASSERT_TRUE(jpeg.ok);
        EXPECT_EQ(jpeg.width, 32);
        EXPECT_EQ(jpeg.height, 32);
        EXPECT_EQ(jpeg.components, 3);
        EXPECT_EQ(jpeg.colourSpace, JCS_YCbCr);
        EXPECT_FALSE(jpeg.progressive);
        // Quality 60 scales the standard luminance table by 80%: its first entry 16 becomes 13.
        EXPECT_EQ(jpeg.firstLuminanceQuant, 13);
        // Quality 60 with subsampled colour smears saturated edges, hence the wide margin (still
        // far apart for the three icons' colours).
        const auto near = [](const unsigned char* p, Rgb want) {
            return std::abs(p[0] - want.r) < 60 && std::abs(p[1] - want.g) < 60 &&
                   std::abs(p[2] - want.b) < 60;
        };
        // The icon in the middle, the window background outside its shape.
        const unsigned char* middle = &jpeg.rgb[(16 * 32 + 16) * 3];
        const unsigned char* corner = &jpeg.rgb[0];
        EXPECT_TRUE(near(middle, c.colour)) << +middle[0] << "," << +middle[1] << "," << +middle[2];
        EXPECT_TRUE(near(corner, Rgb{0xF0, 0xF1, 0xF2}))
            << +corner[0] << "," << +corner[1] << "," << +corner[2];
    }
    for (const char* path : {"/$int/Warning.jpg", "/$int/error.JPG", "/$int/info.jpg"})
        EXPECT_NE(httpGet(s.port(), path).header("Content-Type"), "image/jpeg") << path;
}

} // namespace
} // namespace pelotest::test
