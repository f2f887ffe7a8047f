#include "nimbo_protocol_t.h"

#include "ProtocolFile.h"

void nimbo_protocol_t::Init()
{
    name.clear();
    path.clear();
    for (const ProtocolFile::Key &k : ProtocolFile::keys())
        k.setValue(*this, k.initValue);
}
