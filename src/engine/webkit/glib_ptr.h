// Ownership glue between C++ and GLib: the data a GLib callback carries,
// and a counted reference to a GObject. The adapter's only new and delete
// live here.
#pragma once

#include <glib-object.h>

#include <memory>
#include <utility>

namespace engine::webkit {

// Boxes a value as a GLib callback's user data. New moves it to the heap,
// Free is the matching GDestroyNotify, and Take hands it back to a
// unique_ptr in one-shot callbacks that come without a destroy notify
// (a GAsyncReadyCallback runs exactly once).
template <typename T>
struct CallbackData {
  static gpointer New(T value) { return new T(std::move(value)); }
  static T& From(gpointer data) { return *static_cast<T*>(data); }
  static void Free(gpointer data) { delete static_cast<T*>(data); }
  static std::unique_ptr<T> Take(gpointer data) { return std::unique_ptr<T>(static_cast<T*>(data)); }
};

// A strong reference to a GObject. Copies add references, so a
// std::function can carry one.
template <typename T>
class GRef {
 public:
  GRef() = default;
  // Takes a reference of its own on `object`.
  static GRef Ref(T* object) {
    if (object != nullptr) g_object_ref(object);
    return GRef(object);
  }
  // Takes over the reference the caller holds.
  static GRef Adopt(T* object) { return GRef(object); }

  GRef(const GRef& other) : object_(other.object_) {
    if (object_ != nullptr) g_object_ref(object_);
  }
  GRef(GRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GRef& operator=(GRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~GRef() {
    if (object_ != nullptr) g_object_unref(object_);
  }

  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void reset() { GRef().swap(*this); }
  void swap(GRef& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit GRef(T* object) : object_(object) {}
  T* object_ = nullptr;
};

// A main-loop source (a timer), removed when this goes or is reset.
class SourceId {
 public:
  SourceId() = default;
  explicit SourceId(guint id) : id_(id) {}
  SourceId(SourceId&& other) noexcept : id_(std::exchange(other.id_, 0)) {}
  SourceId& operator=(SourceId&& other) noexcept {
    reset();
    id_ = std::exchange(other.id_, 0);
    return *this;
  }
  ~SourceId() { reset(); }

  void reset() {
    if (id_ != 0) g_source_remove(std::exchange(id_, 0));
  }

 private:
  guint id_ = 0;
};

}  // namespace engine::webkit
