#include "procedures/session.h"

namespace qz {

EepromSearchResult SearchEeprom(Session &session, EepromProbe probe)
{
    const EepromSearchResult search = EepromSearch(session.chip, probe);
    if (!session.chip.fault())
        session.eeprom = search.finding;
    return search;
}

}  // namespace qz
