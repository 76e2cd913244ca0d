/* A host written in C against the public header only: it creates a driver
 * object, calls a few slots through the table and destroys it. */
#include <stdio.h>
#include <string.h>

#include "zarvo/da30.h"

static int configure_calls;

static void ZARVO_STDCALL unused(zarvo_port* port) {
  (void)port;
}
static int32_t ZARVO_STDCALL get_line_result(zarvo_port* port, uint32_t line) {
  (void)port;
  return (int32_t)line;
}
static void ZARVO_STDCALL set_reply_code(zarvo_port* port, uint32_t line, uint32_t code) {
  (void)port, (void)line, (void)code;
}
static void ZARVO_STDCALL set_rx_state(zarvo_port* port, uint32_t line, uint32_t state) {
  (void)port, (void)line, (void)state;
}
static int32_t ZARVO_STDCALL get_rx_state(zarvo_port* port, uint32_t line) {
  (void)port;
  return (int32_t)(line * 100);
}
static int32_t ZARVO_STDCALL send_and_receive(zarvo_port* port, uint32_t line, const uint8_t* tx,
                                              uint32_t len, uint8_t* rx, uint32_t a, uint32_t b) {
  (void)port, (void)line, (void)tx, (void)len, (void)rx, (void)a, (void)b;
  return 1;
}
static int32_t ZARVO_STDCALL configure_line(zarvo_port* port, uint32_t line, uint32_t mode,
                                            uint32_t baud) {
  (void)port;
  ++configure_calls;
  return (line == 7 && mode == 3 && baud == 9600) ? 42 : -1;
}
static void ZARVO_STDCALL set_reply_check(zarvo_port* port, uint32_t line, zarvo_reply_check check,
                                          void* context) {
  (void)port, (void)line, (void)check, (void)context;
}

int main(void) {
  zarvo_port_ops ops;
  zarvo_port port;
  zarvo_da30* driver;
  zarvo_driver_name name;
  int32_t value = -1;
  int i;
  ops.slot0 = unused;
  for (i = 0; i < 11; ++i) ops.slot5_to_15[i] = unused;
  ops.slot18 = unused;
  ops.GetLineResult = get_line_result;
  ops.SetReplyCode = set_reply_code;
  ops.SetRxState = set_rx_state;
  ops.GetRxState = get_rx_state;
  ops.SendAndReceive = send_and_receive;
  ops.ConfigureLine = configure_line;
  ops.SetReplyCheck = set_reply_check;
  port.ops = &ops;

  driver = GetDA30(0, NULL, &port);
  driver->ops->GetDriverName(&name, driver);
  if (name.bytes[0] != 28 || memcmp(name.bytes + 1, "v2.41#", 6) != 0) return 1;
  if (driver->ops->GetLineState(driver, 0xFFFFFF03u) != 300) return 2;
  if (driver->ops->OpenLine(driver, 0xABCDEF07u) != 42 || configure_calls != 1) return 3;
  if ((driver->ops->GetCapability(driver, 9, &value) & 0xFF) != 1 || value != 99999) return 4;
  zarvo_da30_destroy(driver);
  puts("C host: every check held");
  return 0;
}
