#include "wayland_capture.h"

#include "wayland/us_keymap.h"

#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace bench {

int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

ShmBuffer::ShmBuffer(wl_shm* shm, uint32_t format, int width, int height, int stride)
    : format_(format), width_(width), height_(height), stride_(stride),
      size_(static_cast<size_t>(stride) * static_cast<size_t>(height)) {
    const int fd = memfd_create("tide-bench-frame", MFD_CLOEXEC);
    if (fd < 0) return;
    if (ftruncate(fd, static_cast<off_t>(size_)) == 0) {
        data_ = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (data_ == MAP_FAILED) {
            data_ = nullptr;
        } else {
            wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(size_));
            buffer_ = wl_shm_pool_create_buffer(pool, 0, width, height, stride, format);
            wl_shm_pool_destroy(pool);
        }
    }
    close(fd);
}

ShmBuffer::~ShmBuffer() {
    if (buffer_) wl_buffer_destroy(buffer_);
    if (data_) munmap(data_, size_);
}

namespace {

template <typename T>
T* bind(wl_registry* registry, uint32_t name, const wl_interface& interface, uint32_t version) {
    return static_cast<T*>(wl_registry_bind(registry, name, &interface, version));
}

void ignoreGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                    const char*, int32_t) {}
void ignoreDone(void*, wl_output*) {}
void ignoreScale(void*, wl_output*, int32_t) {}
void ignoreText(void*, wl_output*, const char*) {}
void ignoreDamage(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void ignoreDmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}

// A picture's pixel as 0xRRGGBB, from the 32-bit little-endian formats a wlroots renderer copies
// into (XRGB/ARGB, or XBGR/ABGR).
uint32_t rgb(uint32_t pixel, bool bgr) {
    if (!bgr) return pixel & 0xffffff;
    return ((pixel & 0xff) << 16) | (pixel & 0xff00) | ((pixel >> 16) & 0xff);
}

} // namespace

Session::~Session() {
    if (frame_) zwlr_screencopy_frame_v1_destroy(frame_);
    buffer_.reset();
    if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
    if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
    if (keyboards_) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(keyboards_));
    if (pointers_) zwlr_virtual_pointer_manager_v1_destroy(pointers_);
    if (screencopy_) zwlr_screencopy_manager_v1_destroy(screencopy_);
    if (output_) wl_output_destroy(output_);
    if (shm_) wl_shm_destroy(shm_);
    if (seat_) wl_seat_destroy(seat_);
    if (registry_) wl_registry_destroy(registry_);
    if (display_) {
        wl_display_roundtrip(display_);
        wl_display_disconnect(display_);
    }
}

void Session::onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
    auto* s = static_cast<Session*>(data);
    const auto is = [interface](const wl_interface& i) {
        return std::strcmp(interface, i.name) == 0;
    };
    if (is(wl_seat_interface) && !s->seat_) {
        s->seat_ = bind<wl_seat>(registry, name, wl_seat_interface, 1);
    } else if (is(wl_shm_interface)) {
        s->shm_ = bind<wl_shm>(registry, name, wl_shm_interface, 1);
    } else if (is(wl_output_interface) && !s->output_) { // the session has one output
        s->output_ = bind<wl_output>(registry, name, wl_output_interface, 2);
        static const wl_output_listener listener = {ignoreGeometry, onMode,     ignoreDone,
                                                    ignoreScale,    ignoreText, ignoreText};
        wl_output_add_listener(s->output_, &listener, s);
    } else if (is(zwlr_screencopy_manager_v1_interface) && version >= 2) {
        s->screencopyVersion_ = version < 3 ? version : 3;
        s->screencopy_ = bind<zwlr_screencopy_manager_v1>(
            registry, name, zwlr_screencopy_manager_v1_interface, s->screencopyVersion_);
    } else if (is(zwlr_virtual_pointer_manager_v1_interface)) {
        s->pointers_ = bind<zwlr_virtual_pointer_manager_v1>(
            registry, name, zwlr_virtual_pointer_manager_v1_interface, 1);
    } else if (is(zwp_virtual_keyboard_manager_v1_interface)) {
        s->keyboards_ = bind<zwp_virtual_keyboard_manager_v1>(
            registry, name, zwp_virtual_keyboard_manager_v1_interface, 1);
    }
}

void Session::onMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height,
                     int32_t refresh) {
    auto* s = static_cast<Session*>(data);
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    s->outputWidth_ = width;
    s->outputHeight_ = height;
    s->refresh_ = refresh;
}

const auto& kKeymap = kUsKeymap; // (sizeof is the text's, with its final NUL)

bool Session::connect() {
    display_ = wl_display_connect(nullptr);
    if (!display_) {
        std::fprintf(stderr, "tide-bench-wayland-click: no Wayland display\n");
        return false;
    }
    registry_ = wl_display_get_registry(display_);
    static const wl_registry_listener listener = {onGlobal, onGlobalRemove};
    wl_registry_add_listener(registry_, &listener, this);
    wl_display_roundtrip(display_);
    wl_display_roundtrip(display_); // the output's mode
    if (!seat_ || !shm_ || !output_ || !screencopy_ || !pointers_ || outputWidth_ <= 0) {
        std::fprintf(stderr, "tide-bench-wayland-click: the compositor lacks a seat, shared "
                             "memory, an output, screencopy (2+) or virtual pointers\n");
        return false;
    }
    pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointers_, seat_);
    const int fd = keyboards_ ? memfd_create("tide-bench-keymap", MFD_CLOEXEC) : -1;
    if (fd >= 0) {
        if (write(fd, kKeymap, sizeof kKeymap) == static_cast<ssize_t>(sizeof kKeymap)) {
            keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards_, seat_);
            zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                           sizeof kKeymap);
        }
        close(fd);
    }
    return wl_display_roundtrip(display_) >= 0;
}

void Session::move(int x, int y) {
    zwlr_virtual_pointer_v1_motion_absolute(
        pointer_, static_cast<uint32_t>(monotonicNs() / 1'000'000), static_cast<uint32_t>(x),
        static_cast<uint32_t>(y), static_cast<uint32_t>(outputWidth_),
        static_cast<uint32_t>(outputHeight_));
    zwlr_virtual_pointer_v1_frame(pointer_);
    wl_display_flush(display_);
}

void Session::button(uint32_t code, bool pressed, int64_t timeNs) {
    zwlr_virtual_pointer_v1_button(pointer_, static_cast<uint32_t>(timeNs / 1'000'000), code,
                                   pressed ? WL_POINTER_BUTTON_STATE_PRESSED
                                           : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointer_);
    wl_display_flush(display_);
}

void Session::key(uint32_t code, bool pressed) {
    if (!keyboard_) return;
    zwp_virtual_keyboard_v1_key(keyboard_, static_cast<uint32_t>(monotonicNs() / 1'000'000), code,
                                pressed ? WL_KEYBOARD_KEY_STATE_PRESSED
                                        : WL_KEYBOARD_KEY_STATE_RELEASED);
    wl_display_flush(display_);
}

void Session::request(bool withDamage) {
    withDamage_ = withDamage;
    failed_ = false;
    frame_ = zwlr_screencopy_manager_v1_capture_output(screencopy_, 0, output_);
    static const zwlr_screencopy_frame_v1_listener listener = {
        onBuffer, onFlags, onReady, onFailed, ignoreDamage, ignoreDmabuf, onBufferDone};
    zwlr_screencopy_frame_v1_add_listener(frame_, &listener, this);
    wl_display_flush(display_);
}

void Session::copy() {
    if (!buffer_ || !buffer_->fits(format_, frameWidth_, frameHeight_, frameStride_))
        buffer_ =
            std::make_unique<ShmBuffer>(shm_, format_, frameWidth_, frameHeight_, frameStride_);
    if (!buffer_->ok()) {
        failed_ = true;
        return;
    }
    if (withDamage_)
        zwlr_screencopy_frame_v1_copy_with_damage(frame_, buffer_->buffer());
    else
        zwlr_screencopy_frame_v1_copy(frame_, buffer_->buffer());
    wl_display_flush(display_);
}

void Session::onBuffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width,
                       uint32_t height, uint32_t stride) {
    auto* s = static_cast<Session*>(data);
    s->format_ = format;
    s->frameWidth_ = static_cast<int>(width);
    s->frameHeight_ = static_cast<int>(height);
    s->frameStride_ = static_cast<int>(stride);
    if (s->screencopyVersion_ < 3) s->copy(); // no buffer_done to wait for
}

void Session::onBufferDone(void* data, zwlr_screencopy_frame_v1*) {
    static_cast<Session*>(data)->copy();
}

void Session::onFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
    static_cast<Session*>(data)->yInvert_ = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
}

void Session::onReady(void* data, zwlr_screencopy_frame_v1* frame, uint32_t secHi, uint32_t secLo,
                      uint32_t nsec) {
    auto* s = static_cast<Session*>(data);
    zwlr_screencopy_frame_v1_destroy(frame);
    s->frame_ = nullptr;
    const int64_t sec = static_cast<int64_t>((static_cast<uint64_t>(secHi) << 32) | secLo);
    s->ready_ = s->picture(sec * 1'000'000'000 + nsec);
    if (s->streaming_) s->request(true);
}

void Session::onFailed(void* data, zwlr_screencopy_frame_v1* frame) {
    auto* s = static_cast<Session*>(data);
    zwlr_screencopy_frame_v1_destroy(frame);
    s->frame_ = nullptr;
    s->failed_ = true;
}

Picture Session::picture(int64_t timeNs) const {
    Picture p;
    p.timeNs = timeNs;
    p.width = buffer_->width() / Picture::kStep;
    p.height = buffer_->height() / Picture::kStep;
    p.px.resize(static_cast<size_t>(p.width) * p.height);
    const bool bgr = format_ == WL_SHM_FORMAT_XBGR8888 || format_ == WL_SHM_FORMAT_ABGR8888;
    for (int y = 0; y < p.height; ++y) {
        const int row = yInvert_ ? buffer_->height() - 1 - y * Picture::kStep : y * Picture::kStep;
        const uint8_t* line = buffer_->data() + static_cast<size_t>(row) * buffer_->stride();
        for (int x = 0; x < p.width; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, line + static_cast<size_t>(x) * Picture::kStep * 4, 4);
            p.px[static_cast<size_t>(y) * p.width + x] = rgb(pixel, bgr);
        }
    }
    return p;
}

// Reads and handles events until the deadline or until a frame is ready; false when the
// connection is lost.
bool Session::dispatchUntil(int64_t deadlineNs) {
    while (!ready_ && !failed_) {
        if (wl_display_dispatch_pending(display_) < 0) return false;
        if (ready_ || failed_) break;
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) return false;
        }
        wl_display_flush(display_);
        const int64_t left = deadlineNs - monotonicNs();
        pollfd fd = {wl_display_get_fd(display_), POLLIN, 0};
        const int n = left > 0 ? poll(&fd, 1, static_cast<int>(left / 1'000'000) + 1) : 0;
        if (n <= 0) {
            wl_display_cancel_read(display_);
            if (n < 0 && errno != EINTR) return false;
            if (monotonicNs() >= deadlineNs) return true;
            continue;
        }
        if (wl_display_read_events(display_) < 0) return false;
    }
    return wl_display_dispatch_pending(display_) >= 0;
}

std::optional<Picture> Session::grab(int timeoutMs) {
    streaming_ = false;
    const int64_t deadline = monotonicNs() + int64_t{timeoutMs} * 1'000'000;
    if (frame_) { // a frame of the last stream, still waiting for a change
        zwlr_screencopy_frame_v1_destroy(frame_);
        frame_ = nullptr;
    }
    ready_.reset();
    request(false);
    if (!dispatchUntil(deadline)) return std::nullopt;
    std::optional<Picture> p = std::move(ready_);
    ready_.reset();
    return p;
}

void Session::startStreaming() {
    streaming_ = true;
    ready_.reset();
    if (!frame_) request(true);
}

std::optional<Picture> Session::takeFrame(int64_t deadlineNs) {
    if (!ready_ && !dispatchUntil(deadlineNs)) return std::nullopt;
    retryFailed();
    std::optional<Picture> p = std::move(ready_);
    ready_.reset();
    return p;
}

// A copy that failed: the stream goes on with the next frame.
void Session::retryFailed() {
    if (!failed_) return;
    failed_ = false;
    if (streaming_ && !frame_) request(true);
}

bool Session::pump(int ms) {
    const int64_t deadline = monotonicNs() + int64_t{ms} * 1'000'000;
    while (monotonicNs() < deadline) {
        if (!dispatchUntil(deadline)) return false;
        ready_.reset();
        retryFailed();
    }
    return true;
}

} // namespace bench
