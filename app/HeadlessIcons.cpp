// The headless host's message icons: a warning triangle, an error disc and an information disc,
// drawn at 32x32 with smooth edges (each pixel is sampled 4x4 times).

#include "app/HeadlessHost.h"

#include <algorithm>
#include <cmath>

namespace pelotest {
namespace {

struct Rgba {
    float r = 0, g = 0, b = 0, a = 0;
};

constexpr Rgba colour(unsigned rgb) {
    return {static_cast<float>((rgb >> 16) & 0xFF), static_cast<float>((rgb >> 8) & 0xFF),
            static_cast<float>(rgb & 0xFF), 1};
}

struct Point {
    float x, y;
};

float distanceToSegment(Point p, Point a, Point b) {
    const float vx = b.x - a.x, vy = b.y - a.y;
    const float t =
        std::clamp(((p.x - a.x) * vx + (p.y - a.y) * vy) / (vx * vx + vy * vy), 0.f, 1.f);
    return std::hypot(p.x - (a.x + t * vx), p.y - (a.y + t * vy));
}

// Distance of p inside the triangle abc (clockwise on screen) from its nearest edge; negative
// outside.
float insideTriangle(Point p, Point a, Point b, Point c) {
    float nearest = 1e9f;
    const Point corners[] = {a, b, c, a};
    for (int i = 0; i < 3; ++i) {
        const Point e0 = corners[i], e1 = corners[i + 1];
        const float ex = e1.x - e0.x, ey = e1.y - e0.y;
        const float side = ((p.x - e0.x) * ey - (p.y - e0.y) * ex) / std::hypot(ex, ey);
        nearest = std::min(nearest, -side);
    }
    return nearest;
}

float insideCircle(Point p, Point centre, float radius) {
    return radius - std::hypot(p.x - centre.x, p.y - centre.y);
}

// The colour of one sample point of an icon (alpha 0 outside its shape).
Rgba sample(MessageIcon icon, Point p) {
    constexpr Point centre{16, 16};
    switch (icon) {
    case MessageIcon::Warning: {
        const float inside = insideTriangle(p, {16, 1.5f}, {30.5f, 28.5f}, {1.5f, 28.5f});
        if (inside < 0)
            return {};
        if (inside < 1.6f)
            return colour(0x8A6400);
        const bool stroke = distanceToSegment(p, {16, 11}, {16, 19.5f}) < 1.9f;
        const bool dot = insideCircle(p, {16, 24}, 1.9f) >= 0;
        if (stroke || dot)
            return colour(0x1E1E1E);
        // A slightly lighter top edge gives the sign some depth.
        return p.y < 12 ? colour(0xFFE15A) : colour(0xFFCC1A);
    }
    case MessageIcon::Error: {
        const float inside = insideCircle(p, centre, 14.5f);
        if (inside < 0)
            return {};
        if (inside < 1.5f)
            return colour(0x8B0A0A);
        if (distanceToSegment(p, {10.5f, 10.5f}, {21.5f, 21.5f}) < 2.0f ||
            distanceToSegment(p, {21.5f, 10.5f}, {10.5f, 21.5f}) < 2.0f)
            return colour(0xFFFFFF);
        return p.y < 12 ? colour(0xEE4A3E) : colour(0xD8261E);
    }
    case MessageIcon::Information: {
        const float inside = insideCircle(p, centre, 14.5f);
        if (inside < 0)
            return {};
        if (inside < 1.5f)
            return colour(0x163A80);
        const bool dot = insideCircle(p, {16, 9.5f}, 2.3f) >= 0;
        const bool stem = p.x >= 14.2f && p.x <= 17.8f && p.y >= 13 && p.y <= 23.5f;
        const bool foot = p.x >= 12.5f && p.x <= 19.5f && p.y >= 22 && p.y <= 24;
        const bool serif = p.x >= 12.5f && p.x <= 17.8f && p.y >= 13 && p.y <= 15;
        if (dot || stem || foot || serif)
            return colour(0xFFFFFF);
        return p.y < 12 ? colour(0x4F8AEA) : colour(0x2F6AD4);
    }
    }
    return {};
}

} // namespace

IconPixels HeadlessHost::messageIcon(MessageIcon icon) const {
    constexpr int kSamples = 4;
    IconPixels pixels{};
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            Rgba sum; // premultiplied
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const Rgba s =
                        sample(icon, {x + (sx + 0.5f) / kSamples, y + (sy + 0.5f) / kSamples});
                    sum.r += s.r * s.a;
                    sum.g += s.g * s.a;
                    sum.b += s.b * s.a;
                    sum.a += s.a;
                }
            }
            auto* out = &pixels[(y * 32 + x) * 4];
            if (sum.a > 0) {
                out[0] = static_cast<std::uint8_t>(std::lround(sum.r / sum.a));
                out[1] = static_cast<std::uint8_t>(std::lround(sum.g / sum.a));
                out[2] = static_cast<std::uint8_t>(std::lround(sum.b / sum.a));
            }
            out[3] = static_cast<std::uint8_t>(std::lround(255 * sum.a / (kSamples * kSamples)));
        }
    }
    return pixels;
}

} // namespace pelotest
