#pragma once
// Paths written into JSON text by tests and benches (no test framework needed here).

// A path as it stands inside a JSON string: every backslash doubled.
template <typename Text>
Text JsonEscaped(const Text& path)
{
    Text escaped;
    for (const auto c : path)
    {
        escaped += c;
        if (c == '\\')
            escaped += c;
    }
    return escaped;
}
