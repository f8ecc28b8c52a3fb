#pragma once

#include <chrono>

namespace corvane {

// The reader's pause of 10 microseconds per element start, which keeps a
// refresh light on the machine. Sleeping that long at every element would
// not give it: a thread asking for 10 µs sleeps for the kernel's timer slack
// (50 µs and more) and pays two context switches each time, so the pause
// would last several times what it should and cost more CPU than reading
// the element. The pause is owed per element instead and slept off in
// slices of a millisecond, with the time actually slept counted against
// the debt; settle() pays what is left at the end of a document.
class ElementPause
{
public:
    using Duration = std::chrono::steady_clock::duration;

    static constexpr std::chrono::microseconds kPerElement{10};
    static constexpr std::chrono::microseconds kSlice{1000};

    void elementStarted();
    void settle();
    void clear() { m_owed = Duration::zero(); }

    // Time owed and not slept yet (negative when a sleep overran).
    Duration owed() const { return m_owed; }

private:
    void sleepOff();

    Duration m_owed = Duration::zero();
};

} // namespace corvane
