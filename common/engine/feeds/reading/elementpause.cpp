#include "feeds/reading/elementpause.h"

#include <thread>

namespace corvane {

void ElementPause::elementStarted()
{
    m_owed += kPerElement;
    if (m_owed >= kSlice)
        sleepOff();
}

void ElementPause::settle()
{
    if (m_owed > Duration::zero())
        sleepOff();
    clear();
}

void ElementPause::sleepOff()
{
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(m_owed);
    m_owed -= std::chrono::steady_clock::now() - start;
}

} // namespace corvane
