// Typed access to every record exchanged between a host and a plug-in.
#pragma once

#include "catalogue_entry_record.h"
#include "component_record.h"
#include "instance_block_layout.h"
#include "instance_blocks.h"
#include "record_fields.h"
#include "simulation_record.h"
