// The program's own pictures are drawn, not loaded: each is designed on a
// 32 by 32 grid and painted, antialiased, at every size it is asked for.
#pragma once

#include <QIcon>
#include <QPainter>
#include <functional>
#include <initializer_list>

QIcon DrawnIcon(const std::function<void(QPainter &)> &Draw, std::initializer_list<int> Sizes);
