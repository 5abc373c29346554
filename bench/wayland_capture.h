// The Wayland side of the click benchmark (wayland_click.cpp): one client with a virtual pointer
// and keyboard, and copies of the output's frames through the wlroots screencopy protocol, each
// with the time the compositor gave its frame.
#pragma once

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace bench {

// Nanoseconds of CLOCK_MONOTONIC, the clock wlroots stamps its frames with.
int64_t monotonicNs();

// A frame's picture, every second pixel across and down (0xRRGGBB), and when the compositor made
// it.
struct Picture {
    static constexpr int kStep = 2;
    int width = 0, height = 0; // in samples
    int64_t timeNs = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
};

// A memory-backed wl_buffer.
class ShmBuffer {
public:
    ShmBuffer(wl_shm* shm, uint32_t format, int width, int height, int stride);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;
    bool ok() const { return buffer_ != nullptr; }
    bool fits(uint32_t format, int width, int height, int stride) const {
        return format == format_ && width == width_ && height == height_ && stride == stride_;
    }
    wl_buffer* buffer() const { return buffer_; }
    const uint8_t* data() const { return static_cast<const uint8_t*>(data_); }
    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return stride_; }

private:
    uint32_t format_;
    int width_, height_, stride_;
    size_t size_;
    void* data_ = nullptr;
    wl_buffer* buffer_ = nullptr;
};

class Session {
public:
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Connects and finds what the benchmark needs; false with the reason on standard error.
    bool connect();
    int width() const { return outputWidth_; }
    int height() const { return outputHeight_; }
    int refreshMilliHz() const { return refresh_; }

    // The pointer, in the output's logical pixels; button presses carry the time given.
    void move(int x, int y);
    void button(uint32_t code, bool pressed, int64_t timeNs);
    void key(uint32_t code, bool pressed);
    void flush() { wl_display_flush(display_); }

    // Frames: a picture of the output now, or, while streaming, every frame the compositor makes
    // with something new in it (takeFrame returns them as they come).
    std::optional<Picture> grab(int timeoutMs);
    void startStreaming();
    void stopStreaming() { streaming_ = false; }
    std::optional<Picture> takeFrame(int64_t deadlineNs);
    // Handles what arrives for that long (the frames that come meanwhile are dropped).
    bool pump(int ms);

private:
    static void onGlobal(void*, wl_registry*, uint32_t, const char*, uint32_t);
    static void onGlobalRemove(void*, wl_registry*, uint32_t) {}
    static void onMode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t);
    static void onBuffer(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t);
    static void onFlags(void*, zwlr_screencopy_frame_v1*, uint32_t);
    static void onReady(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t);
    static void onFailed(void*, zwlr_screencopy_frame_v1*);
    static void onBufferDone(void*, zwlr_screencopy_frame_v1*);
    void request(bool withDamage);
    void copy();
    void retryFailed();
    bool dispatchUntil(int64_t deadlineNs);
    Picture picture(int64_t timeNs) const;

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    wl_shm* shm_ = nullptr;
    wl_output* output_ = nullptr;
    zwlr_screencopy_manager_v1* screencopy_ = nullptr;
    uint32_t screencopyVersion_ = 0;
    zwlr_virtual_pointer_manager_v1* pointers_ = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboards_ = nullptr;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    int outputWidth_ = 0, outputHeight_ = 0, refresh_ = 0;

    // The frame in flight, the buffer it goes into, and the last one copied.
    zwlr_screencopy_frame_v1* frame_ = nullptr;
    bool withDamage_ = false, streaming_ = false, yInvert_ = false, failed_ = false;
    uint32_t format_ = 0;
    int frameWidth_ = 0, frameHeight_ = 0, frameStride_ = 0;
    std::unique_ptr<ShmBuffer> buffer_;
    std::optional<Picture> ready_;
};

} // namespace bench
