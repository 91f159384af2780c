#pragma once

// Frees big results on a thread of its own: a search of 100,000 events
// leaves a million blocks behind, and giving them back takes the window a
// tenth of a second it can spend painting. What is handed over must be
// owned by nothing else and hold no Qt object that belongs to a thread.

#include <memory>
#include <type_traits>
#include <utility>

namespace Disposal {

// Destroys the object on the disposal thread.
void push(std::shared_ptr<void> object);

template <typename T>
void later(T &&object)
{
    push(std::make_shared<std::decay_t<T>>(std::forward<T>(object)));
}

} // namespace Disposal
