// The seam behind the platform functions that block, leave the process or
// make a sound or depend on chance: showing a modal box, ending the process,
// playing a sound, opening a web page, drawing a random number.
// A test installs a replacement to observe the call and go on; with none
// installed the real platform behaviour runs.
#pragma once

#include <functional>
#include <utility>

template <typename Signature>
class Replaceable
{
public:
    using Handler = std::function<Signature>;

    // Returns the replacement it displaces; an empty handler restores the real behaviour.
    Handler replace(Handler handler) { return std::exchange(m_handler, std::move(handler)); }

    // Runs the replacement if one is installed; false means the caller does the real thing.
    template <typename... Args>
    bool runReplacement(Args &&...args) const
    {
        if (!m_handler)
            return false;
        m_handler(std::forward<Args>(args)...);
        return true;
    }

    // The installed replacement (empty when none is), for seams that return a value.
    const Handler &replacement() const { return m_handler; }

private:
    Handler m_handler;
};
