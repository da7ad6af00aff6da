// An ordered list of same-sized icons, as the windows keep their checking,
// new-mail, error and updating animations.
#pragma once

#include <QIcon>
#include <QObject>
#include <vector>

class TImageList : public QObject {
public:
    explicit TImageList(QObject *owner = nullptr) : QObject(owner) {}
    int Count() const { return int(FIcons.size()); }
    int Add(const QIcon &icon) {
        FIcons.push_back(icon);
        return Count() - 1;
    }
    void Clear() { FIcons.clear(); }
    // The icon at index; false (and icon untouched) when index is out of range.
    bool GetIcon(int index, QIcon &icon) const {
        if (index < 0 || index >= Count())
            return false;
        icon = FIcons[size_t(index)];
        return true;
    }

private:
    std::vector<QIcon> FIcons;
};
