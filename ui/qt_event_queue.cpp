#include "ui/qt_event_queue.h"

#include <QMetaObject>

namespace vorsal {

void QtEventQueue::Post(std::function<void()> call) {
  QMetaObject::invokeMethod(&receiver_, std::move(call), Qt::QueuedConnection);
}

}  // namespace vorsal
