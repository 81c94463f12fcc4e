#pragma once
// Base of the settings readers: holds the configuration utility (never null) and reads JSON-valued keys.
// It owns nothing; the utility belongs to the configuration component.

#include "host/IConfigUtil.h"
#include "message/CMessageObject.h"

#include <string>

class CConfigReader
{
public:
    // A null util takes the module's; throws std::invalid_argument("ConfigUtil") when there is none.
    explicit CConfigReader(IConfigUtil* util = nullptr);
    virtual ~CConfigReader() = default;

    // Parses the JSON text stored under key into object. False when the key cannot be read or its text is
    // not JSON; object is then left as the parser left it.
    [[nodiscard]] bool ReadObject(const std::wstring& key, CMessageObject& object) const;

protected:
    IConfigUtil* m_configUtil;
};
