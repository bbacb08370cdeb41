// A control array: controls of one kind addressed by a 16-bit index from a
// lowest to a highest bound (Brisquet's beat markers run 1 to 6; there is no
// member 0). Addressing an index outside the bounds raises a run-time failure
// instead of reading past the array. The array does not own its controls.
#pragma once

#include "system/runtime_error.h"

#include <QtGlobal>

#include <vector>

template <typename Control>
class ControlArray
{
public:
    ControlArray(qint16 lowerBound, std::vector<Control *> members)
        : m_lowerBound(lowerBound), m_members(std::move(members))
    {
    }

    qint16 lowerBound() const { return m_lowerBound; }
    qint16 upperBound() const
    {
        return static_cast<qint16>(m_lowerBound + static_cast<int>(m_members.size()) - 1);
    }

    Control &operator()(qint16 index) const
    {
        if (index < m_lowerBound || index > upperBound())
            throw RuntimeError(RuntimeError::ControlArrayElementMissing,
                               QStringLiteral("Control array element '%1' doesn't exist").arg(index));
        return *m_members[static_cast<size_t>(index - m_lowerBound)];
    }

private:
    qint16 m_lowerBound;
    std::vector<Control *> m_members;
};
