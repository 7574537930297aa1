#pragma once

// The service's status as the web page reads it (JSON) and as a metrics collector
// scrapes it (OpenMetrics text).

#include "service/ServiceStatus.h"

#include <string>

// {"station":..,"input":{"listening":true,"since":".."},"broker":{..}|null,
//  "last_location":{message}|null,"messages":{"sms":n,"loc":n,"headerless":n},
//  "store_errors":n,"level_dbfs":x|null,"snr_db":x|null,"queues":{"name":n,..}}
std::string StatusJson(const TStatusSnapshot &Status, const std::string &Station);

std::string StatusMetrics(const TStatusSnapshot &Status);
