#pragma once

#include <type_traits>

namespace quorvane {

/// Marks a type as a source that a video stream can carry; CameraFormat and ScreenFormat are the
/// two, each declaring itself in its own header.
template <class T>
struct IsMediaConfiguration : std::false_type {};

template <class T>
concept MediaConfiguration = IsMediaConfiguration<T>::value;

}  // namespace quorvane
