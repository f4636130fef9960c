#pragma once

#include "store/OneOrMany.h"
#include "store/Primacy.h"

#include <initializer_list>

// Declaring an engine's schema as two tables. A relation reads as `Type::RelateToType` does:
// from `type`'s point of view, `thisSide` is how many `type` items one `related` item may be
// connected to, and `otherSide` how many `related` items one `type` item may hold.
struct TypeDeclaration
{
    const char* name;
    Primacy primacy;
    bool isNull;
    bool autoCreate = true;
};

struct RelationDeclaration
{
    const char* type;
    const char* related;
    OneOrMany thisSide;
    OneOrMany otherSide;
    bool owns = false;
};

void DeclareTypes(std::initializer_list<TypeDeclaration> i_types);
void DeclareRelations(std::initializer_list<RelationDeclaration> i_relations);

template <std::size_t N>
void DeclareTypes(const TypeDeclaration (&i_types)[N])
{
    for (const TypeDeclaration& l_type : i_types)
        DeclareTypes({l_type});
}

template <std::size_t N>
void DeclareRelations(const RelationDeclaration (&i_relations)[N])
{
    for (const RelationDeclaration& l_relation : i_relations)
        DeclareRelations({l_relation});
}
