#include "link/ResultCodes.h"

namespace vantrel {

const char* ResultText(uint32_t code) {
  switch (code) {
    case 0: return "OK";
    case 1: return "Error";
    case 200: return "Invalid argument";
    case 201: return "File open error";
    case 202: return "File create error";
    case 203: return "File read error";
    case 204: return "File write error";
    case 205: return "Internal error";
    case 206: return "Include file error";
    case 207: return "Invalid keyword";
    case 208: return "Wrong number of parameters";
    case 209: return "Invalid value";
    case 210: return "COM port error";
    case 211: return "Synchronization error";
    case 212: return "No respone at the target phone";
    case 213: return "Invalid image address";
    case 214: return "Invalid IMEI - must be 14 digits";
    case 215: return "Invalid MCC/MNC";
    case 216: return "Wrong order of SIMLOCK codes";
    case 217: return "Invalid IMSI";
    case 218: return "System parameter warning";
    case 219: return "System parameter error";
    case 230: return "Secure loader command ID invalid";
    case 231: return "Secure loader command format invalid";
    case 232: return "Secure loader baud rate invalid";
    case 233: return "Secure loader CRC error";
    case 234: return "Secure loader memory alignment error";
    case 235: return "Secure loader flash programming error";
    case 236: return "Secure loader error";
    case 237: return "Secure loader protocol error";
    case 238: return "Secure loader command or response length error";
    case 239: return "Secure loader file open error";
    default: return "Unexpected result code returned";
  }
}

}  // namespace vantrel
