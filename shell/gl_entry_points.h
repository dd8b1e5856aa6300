// GL entry points fetched once per context by the extension check, under their GL names.
#pragma once

#include "shell/gl_api.h"

struct GlEntryPoints {
    PFNGLPROGRAMSTRINGARBPROC glProgramStringARB;
    PFNGLBINDPROGRAMARBPROC glBindProgramARB;
    PFNGLDELETEPROGRAMSARBPROC glDeleteProgramsARB;
    PFNGLGENPROGRAMSARBPROC glGenProgramsARB;
    PFNGLMULTITEXCOORD2IARBPROC glMultiTexCoord2iARB;
    PFNGLMULTITEXCOORD3FARBPROC glMultiTexCoord3fARB;
    PFNGLMULTITEXCOORD3FVARBPROC glMultiTexCoord3fvARB;
    PFNGLMULTITEXCOORD2FVARBPROC glMultiTexCoord2fvARB;
    PFNGLACTIVETEXTUREARBPROC glActiveTextureARB;
    PFNGLCLIENTACTIVETEXTUREARBPROC glClientActiveTextureARB;
    PFNGLTEXIMAGE3DEXTPROC glTexImage3DEXT;
};
