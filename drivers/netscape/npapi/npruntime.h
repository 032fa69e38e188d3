// Scripting records of the Netscape Plug-in API: objects, their classes,
// variants, strings and identifiers. Layouts are the published ones.
#ifndef KV_NPAPI_NPRUNTIME_H
#define KV_NPAPI_NPRUNTIME_H

#include "npapi.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef char NPUTF8;

// Characters are not zero-terminated: the length (in bytes) is authoritative.
typedef struct _NPString {
    const NPUTF8* UTF8Characters;
    uint32_t UTF8Length;
} NPString;

typedef enum {
    NPVariantType_Void = 0,
    NPVariantType_Null = 1,
    NPVariantType_Bool = 2,
    NPVariantType_Int32 = 3,
    NPVariantType_Double = 4,
    NPVariantType_String = 5,
    NPVariantType_Object = 6
} NPVariantType;

typedef struct _NPObject NPObject;
typedef struct _NPClass NPClass;

typedef struct _NPVariant {
    NPVariantType type;
    union {
        bool boolValue;
        int32_t intValue;
        double doubleValue;
        NPString stringValue;
        NPObject* objectValue;
    } value;
} NPVariant;

// Opaque to the plug-in: only the browser knows what an identifier points at.
typedef void* NPIdentifier;

typedef NPObject* (*NPAllocateFunctionPtr)(NPP npp, NPClass* aClass);
typedef void (*NPDeallocateFunctionPtr)(NPObject* npobj);
typedef void (*NPInvalidateFunctionPtr)(NPObject* npobj);
typedef bool (*NPHasMethodFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPInvokeFunctionPtr)(NPObject* npobj, NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                    NPVariant* result);
typedef bool (*NPInvokeDefaultFunctionPtr)(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                                           NPVariant* result);
typedef bool (*NPHasPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPGetPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name, NPVariant* result);
typedef bool (*NPSetPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name, const NPVariant* value);
typedef bool (*NPRemovePropertyFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPEnumerationFunctionPtr)(NPObject* npobj, NPIdentifier** value, uint32_t* count);
typedef bool (*NPConstructFunctionPtr)(NPObject* npobj, const NPVariant* args, uint32_t argCount, NPVariant* result);

#define NP_CLASS_STRUCT_VERSION 3
#define NP_CLASS_STRUCT_VERSION_ENUM 2
#define NP_CLASS_STRUCT_VERSION_CTOR 3

// An object's operations. Slots beyond what structVersion announces are not
// read by the caller (enumerate from 2, construct from 3).
struct _NPClass {
    uint32_t structVersion;
    NPAllocateFunctionPtr allocate;
    NPDeallocateFunctionPtr deallocate;
    NPInvalidateFunctionPtr invalidate;
    NPHasMethodFunctionPtr hasMethod;
    NPInvokeFunctionPtr invoke;
    NPInvokeDefaultFunctionPtr invokeDefault;
    NPHasPropertyFunctionPtr hasProperty;
    NPGetPropertyFunctionPtr getProperty;
    NPSetPropertyFunctionPtr setProperty;
    NPRemovePropertyFunctionPtr removeProperty;
    NPEnumerationFunctionPtr enumerate;
    NPConstructFunctionPtr construct;
};

// Every scriptable object starts with this header; an implementation appends
// its own fields behind it.
struct _NPObject {
    NPClass* _class;
    uint32_t referenceCount;
};

#ifdef __cplusplus
}  // extern "C"

#if UINTPTR_MAX == UINT64_MAX
#include <cstddef>
static_assert(sizeof(NPString) == 16 && offsetof(NPString, UTF8Length) == 8);
static_assert(sizeof(NPVariantType) == 4);
static_assert(sizeof(NPVariant) == 24 && offsetof(NPVariant, value) == 8);
static_assert(sizeof(NPClass) == 104 && offsetof(NPClass, allocate) == 8 && offsetof(NPClass, invoke) == 40 &&
              offsetof(NPClass, setProperty) == 72 && offsetof(NPClass, enumerate) == 88 &&
              offsetof(NPClass, construct) == 96);
static_assert(sizeof(NPObject) == 16 && offsetof(NPObject, referenceCount) == 8);
#endif
#endif  // __cplusplus

#endif  // KV_NPAPI_NPRUNTIME_H
