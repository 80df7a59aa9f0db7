// What a host asks of an export plug-in library: the class descriptor it
// creates exporters through, and the scene-export interface itself.
#pragma once

#include <cstdint>

#include "host/Interface.h"

namespace host {

constexpr uint32_t SCENE_EXPORT_CLASS_ID = 0xA20;
// The plug-in interface version a library must answer from LibVersion.
constexpr uint32_t VERSION_PLUGIN_API = 0x07D00500;

class SceneExport {
public:
    virtual ~SceneExport() = default;
    virtual int ExtCount() = 0;
    virtual const char* Ext(int n) = 0;
    virtual const char* LongDesc() = 0;
    virtual const char* ShortDesc() = 0;
    virtual const char* AuthorName() = 0;
    virtual const char* CopyrightMessage() = 0;
    virtual const char* OtherMessage1() = 0;
    virtual const char* OtherMessage2() = 0;
    virtual unsigned int Version() = 0;
    virtual void ShowAbout(void* parentWindow) = 0;
    // 1 when the export completed or was cancelled, 0 when a file failed.
    virtual int DoExport(const char* name, void* expInterface, Interface* ip, int suppressPrompts) = 0;
};

class ClassDesc {
public:
    virtual ~ClassDesc() = default;
    virtual int IsPublic() = 0;
    virtual void* Create(int loading) = 0;
    virtual int BeginCreate(void* ip) = 0;
    virtual int EndCreate(void* ip) = 0;
    virtual const char* ClassName() = 0;
    virtual uint32_t SuperClassID() = 0;
    virtual Class_ID ClassID() = 0;
    virtual const char* Category() = 0;
    virtual int OkToCreate(void* ip) = 0;
    virtual int HasClassParams() = 0;
    virtual void EditClassParams(void* hwnd) = 0;
    virtual void ResetClassParams(int fileReset) = 0;
    virtual int NumActionTables() = 0;
    virtual void* GetActionTable(int i) = 0;
    // Whether the class manipulates ref, a node or object of the scene.
    virtual int IsManipulator(void* ref) = 0;
};

// Entry points a plug-in library exports by name, with C linkage.
using LibDescriptionFn = const char* (*)();
using LibNumberClassesFn = int (*)();
using LibClassDescFn = ClassDesc* (*)(int);
using LibVersionFn = unsigned long (*)();

}  // namespace host
