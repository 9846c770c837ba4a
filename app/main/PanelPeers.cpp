#include "PanelPeers.h"

namespace zrq::app {

NullPeers& nullPeers() {
  static NullPeers peers;
  return peers;
}

}  // namespace zrq::app
