/* The model plug-in interface: exported functions, callbacks, phase and
 * status codes, and the byte layouts of the records exchanged with a host.
 *
 * The records are little-endian byte layouts. Read and write their fields
 * through the offsets below (host_records.h has typed accessors for
 * C++); only RegistrationRecord is a plain C struct, three 16-bit fields. */
#ifndef UDM_INTERFACE_H
#define UDM_INTERFACE_H

#include <stdint.h>

#include "udm_platform.h"

/* Calling convention of the exports and callbacks. Only 32-bit Windows has a
 * choice; define UDM_CALL before including this header to pick another. */
#ifndef UDM_CALL
#if defined(_WIN32) && !defined(_WIN64)
#define UDM_CALL __stdcall
#else
#define UDM_CALL
#endif
#endif

#if defined(UDM_BUILDING_PLUGIN)
#if defined(_WIN32)
#define UDM_EXPORT __declspec(dllexport)
#else
#define UDM_EXPORT __attribute__((visibility("default")))
#endif
#else
#define UDM_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Phases of UDMMain. */
enum {
    UDM_MODE_INIT = 1,
    UDM_MODE_PREPARE = 2,
    UDM_MODE_EVALUATE = 3,
    UDM_MODE_ACCEPT = 4,
    UDM_MODE_OUTPUT_INDEX = 5,
    UDM_MODE_OUTPUT_VALUE = 6,
    UDM_MODE_RELEASE = 7
};

/* Status codes of UDMMain. */
enum {
    UDM_OK = 0,
    UDM_ERR_NULL_HANDLE = 28195,
    UDM_ERR_LOCK_FAILED = 28003
};

/* Message severities. */
enum { UDM_SEVERITY_WARNING = 2, UDM_SEVERITY_FAILURE = 3 };

/* Expression callback operations. */
enum { UDM_EXPR_REGISTER = 0, UDM_EXPR_EVALUATE = 1 };

/* Values reported by the interface. */
enum {
    UDM_PLUGIN_VERSION = 2,      /* GetPlugIn and GetVersionNumber */
    UDM_REG_INTERFACE = 17,      /* RegistrationRecord, first field */
    UDM_INSTANCE_BYTES = 336,    /* RegistrationRecord, second field */
    UDM_REG_RESERVED = 0         /* RegistrationRecord, third field */
};

typedef struct RegistrationRecord {
    uint16_t interfaceCode;
    uint16_t instanceBytes; /* size of the instance block the host allocates */
    uint16_t reserved;
} RegistrationRecord;

/* ComponentRecord: byte offsets. Handles are 32-bit fields. */
enum {
    UDM_COMP_RESERVED_A = 2,        /* 16-bit, cleared by mode 1 */
    UDM_COMP_ENTRY_COUNT = 4,       /* 16-bit, matrix entries of the instance */
    UDM_COMP_RESERVED_B = 6,        /* 16-bit, cleared by mode 1 */
    UDM_COMP_VECTOR_BLOCK = 8,      /* 32-bit handle */
    UDM_COMP_NODE_VALUE_OFF = 14,   /* u16: 4 doubles N1, N2, NC1, NC2 */
    UDM_COMP_NODE_DERIV_OFF = 16,   /* u16: 2 doubles dN1/dt, dN2/dt */
    UDM_COMP_RHS_OFF = 26,          /* u16: 2 doubles */
    UDM_COMP_MATRIX_BLOCK = 28,     /* 32-bit handle */
    UDM_COMP_COL_INDEX_OFF = 32,    /* u16: 4 int32 */
    UDM_COMP_ROW_INDEX_OFF = 34,    /* u16: 4 int32 */
    UDM_COMP_MATRIX_VALUE_OFF = 36, /* u16: 4 doubles */
    UDM_COMPONENT_RECORD_BYTES = 38
};

/* SimulationRecord: byte offsets of doubles. */
enum {
    UDM_SIM_SELECTOR = 0,
    UDM_SIM_TIME = 8,
    /* The host's integration method at this evaluation, for plug-ins that
     * store charge: the derivative of a quantity q at the new point is
     *   NEW * (q - q1) + OLDER * (q2 - q1) - LAST_DERIVATIVE * dq1/dt,
     * q1 and q2 the values at the last two accepted points (newest first),
     * dq1/dt the derivative this rule gave at the last one. All three are
     * 0 in an operating point, where nothing flows into a charge. */
    UDM_SIM_RATE_NEW = 16,
    UDM_SIM_RATE_OLDER = 24,
    UDM_SIM_RATE_LAST_DERIVATIVE = 32,
    UDM_SIM_START_TIME = 40,
    /* Which Newton solve of the host this evaluation is an iteration of:
     * a number that differs from one solve to the next, never 0; 0 for an
     * evaluation outside the iterations (a point evaluated again, a
     * trajectory searched for a switching). Within one solve a plug-in may
     * limit an iterate's step against the one it saw before, as SPICE's
     * junctions do; outside one it evaluates the law as it stands. */
    UDM_SIM_NEWTON_SOLVE = 48,
    UDM_SIMULATION_RECORD_BYTES = 56
};

/* CatalogueEntry returned by ListNodeInfo: byte offsets and sizes. */
enum {
    UDM_CAT_NAME = 0,
    UDM_CAT_NAME_BYTES = 52,
    UDM_CAT_KIND = 52, /* int32 */
    UDM_CAT_DESCRIPTION = 56,
    UDM_CAT_DESCRIPTION_BYTES = 51,
    UDM_CAT_DEFAULT = 107,
    UDM_CAT_DEFAULT_BYTES = 257,
    UDM_CATALOGUE_ENTRY_BYTES = 364
};

enum { UDM_KIND_TERMINAL = 1, UDM_KIND_PARAMETER = 2, UDM_KIND_OUTPUT = 3 };

typedef int(UDM_CALL* MessageCallback)(int severity, const char* text);
typedef int(UDM_CALL* ExpressionCallback)(int op, const char* text, double* in, double* out);
typedef int(UDM_CALL* UDMInitFn)(MessageCallback, ExpressionCallback, RegistrationRecord*);

typedef int(UDM_CALL* GetPlugInFn)(UDMInitFn* slot);
typedef int(UDM_CALL* GetVersionNumberFn)(void);
typedef void*(UDM_CALL* ListNodeInfoFn)(uint32_t index);
typedef int32_t(UDM_CALL* UDMMainFn)(int32_t mode, char* text, void* simulation, double* out,
                                     HGLOBAL instance, HGLOBAL component);

UDM_EXPORT int UDM_CALL GetPlugIn(UDMInitFn* slot);
UDM_EXPORT int UDM_CALL UDMInit(MessageCallback message, ExpressionCallback expression,
                                RegistrationRecord* record);
UDM_EXPORT int UDM_CALL GetVersionNumber(void);
UDM_EXPORT void* UDM_CALL ListNodeInfo(uint32_t index);
UDM_EXPORT int32_t UDM_CALL UDMMain(int32_t mode, char* text, void* simulation, double* out,
                                    HGLOBAL instance, HGLOBAL component);

#ifdef __cplusplus
}
#endif

#endif /* UDM_INTERFACE_H */
