// The value types of the client API, in one include: texts and text lists, node and frame
// ids, server ids, metadata blobs and dictionaries, operating-system facts and node events.
#pragma once

#include "vantrel/VantrelIds.h"
#include "vantrel/VantrelMetaData.h"
#include "vantrel/VantrelNodeEvent.h"
#include "vantrel/VantrelOS.h"
#include "vantrel/VantrelServerId.h"
#include "vantrel/VantrelStr.h"
