#include "renderer/mesh_loader.h"

#include <cmath>

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

namespace vosh::render {

bool load_mesh(const std::string& path, MeshData& out, std::string& error) {
    Assimp::Importer importer;
    // Points and lines are dropped: only surfaces occlude.
    importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE, aiPrimitiveType_POINT | aiPrimitiveType_LINE);
    const aiScene* scene = importer.ReadFile(
        path, aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_SortByPType |
                  aiProcess_PreTransformVertices | aiProcess_FindInvalidData);
    if (!scene || !scene->mRootNode) {
        error = std::string("cannot read mesh: ") + importer.GetErrorString();
        return false;
    }
    MeshData mesh;
    bool all_have_normals = true;
    bool all_have_uvs = true;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* part = scene->mMeshes[m];
        if (!(part->mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) continue;
        all_have_normals = all_have_normals && part->HasNormals();
        all_have_uvs = all_have_uvs && part->HasTextureCoords(0);
    }
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* part = scene->mMeshes[m];
        if (!(part->mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) continue;
        const uint32_t base = static_cast<uint32_t>(mesh.positions.size());
        for (unsigned v = 0; v < part->mNumVertices; ++v) {
            const aiVector3D& p = part->mVertices[v];
            mesh.positions.push_back({p.x, p.y, p.z});
            if (all_have_normals) {
                const aiVector3D& n = part->mNormals[v];
                mesh.normals.push_back(normalize(Vec3{n.x, n.y, n.z}));
            }
            if (all_have_uvs) {
                const aiVector3D& t = part->mTextureCoords[0][v];
                mesh.uvs.push_back({t.x, t.y, 0});
            }
        }
        for (unsigned f = 0; f < part->mNumFaces; ++f) {
            const aiFace& face = part->mFaces[f];
            if (face.mNumIndices != 3) continue;
            for (int k = 0; k < 3; ++k) mesh.indices.push_back(base + face.mIndices[k]);
        }
    }
    for (const Vec3& p : mesh.positions)
        if (!is_finite(p)) {
            error = "mesh has a vertex that is not a finite number";
            return false;
        }
    if (mesh.indices.empty()) {
        error = "mesh holds no triangle";
        return false;
    }
    out = std::move(mesh);
    return true;
}

}  // namespace vosh::render
