// The delivery code's part of the reporter's start-up: the temporary folder is emptied,
// and the exception object and the pipeline get their screenshot, clean-up and send links.
#pragma once

namespace qx {

void DeliveryStartup();
void DeliveryShutdown();

}  // namespace qx
