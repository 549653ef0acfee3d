// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// ICC profiles whose only transform is a colour look-up table to Lab, made with lcms2: the kind
// QColorSpace cannot read, for the format runner's colour cases and the PSD reader's.

#include <QByteArray>
#include <lcms2.h>

namespace kivo::test {

// `inputs` device channels (3: RGB, 4: CMYK) to Lab through a table of `points` per side, each
// entry computed by `sample` (lcms2's sampler, handed `cargo`).
inline QByteArray clutProfile(int inputs, int points, cmsSAMPLER16 sample, void* cargo) {
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, inputs == 4 ? cmsSigOutputClass : cmsSigDisplayClass);
    cmsSetColorSpace(profile, inputs == 4 ? cmsSigCmykData : cmsSigRgbData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, cmsUInt32Number(inputs), 3);
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, cmsUInt32Number(points),
                                            cmsUInt32Number(inputs), 3, nullptr);
    cmsStageSampleCLut16bit(clut, sample, cargo, 0);
    // lutAtoBType wants curves around the table; identity ones do.
    cmsPipelineInsertStage(pipeline, cmsAT_END,
                           cmsStageAllocToneCurves(nullptr, cmsUInt32Number(inputs), nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, clut);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(pipeline);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

} // namespace kivo::test
