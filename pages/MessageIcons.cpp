#include "pages/MessageIcons.h"

#include "pages/Pages.h"

#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include <jpeglib.h>

namespace pelotest {
namespace {

constexpr int kSize = 32;
constexpr int kQuality = 60;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf escape;
};

[[noreturn]] void leaveEncoder(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->escape, 1);
}

// libjpeg reports errors by calling error_exit, which must not return; it jumps back here. No
// object with a destructor lives between the setjmp and the jump.
bool encode(const unsigned char* rgb, unsigned char** output, unsigned long* outputSize) {
    jpeg_compress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = leaveEncoder;
    if (setjmp(errors.escape)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, output, outputSize);
    info.image_width = kSize;
    info.image_height = kSize;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(rgb + info.next_scanline * kSize * 3);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

} // namespace

std::string messageIconJpeg(const IconPixels& icon, Rgb background) {
    // The icon's shape is drawn over the background (alpha blending); JPEG has no transparency.
    std::array<unsigned char, kSize * kSize * 3> rgb{};
    const std::array<std::uint8_t, 3> base{background.r, background.g, background.b};
    for (int i = 0; i < kSize * kSize; ++i) {
        const unsigned alpha = icon[i * 4 + 3];
        for (int c = 0; c < 3; ++c)
            rgb[i * 3 + c] = static_cast<unsigned char>(
                (icon[i * 4 + c] * alpha + base[c] * (255 - alpha) + 127) / 255);
    }
    unsigned char* output = nullptr;
    unsigned long outputSize = 0;
    const bool encoded = encode(rgb.data(), &output, &outputSize);
    if (!encoded) {
        std::free(output);
        throw std::runtime_error("JPEG encoding of a message icon failed");
    }
    std::string jpeg(reinterpret_cast<const char*>(output), outputSize);
    std::free(output);
    return jpeg;
}

// The icon stands in pages on the window background (the not-found page's message row), so the
// picture is filled with that colour outside the icon's shape.
void answerMessageIcon(Exchange& ex, MessageIcon icon) {
    ex.response.contentType = "image/jpeg";
    ex.response.body =
        messageIconJpeg(ex.host.messageIcon(icon), ex.host.color(ColorRole::WindowBackground));
}

} // namespace pelotest
