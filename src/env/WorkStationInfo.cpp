#include "env/WorkStationInfo.h"

namespace fw {

WorkStationInfo::WorkStationInfo(const WorkstationSource& source) : m_source(source)
{
    m_supported = m_source.isSupportedPlatform();
    if (m_supported)
        Refresh();
}

void WorkStationInfo::Refresh()
{
    if (!m_supported)
        return;
    if (auto c = m_source.queryComputer())
        m_computer = *c;
    if (auto u = m_source.queryUser())
        m_user = *u;
}

} // namespace fw
